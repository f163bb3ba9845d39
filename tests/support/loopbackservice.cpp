#include "support/loopbackservice.h"

#include <QFile>
#include <QTcpSocket>

LoopbackService::LoopbackService()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this]() {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

void LoopbackService::answer(const QString &target, const QByteArray &body, int status)
{
    m_answers.insert(target, Answer{status, body});
}

void LoopbackService::answerOthers(const QByteArray &body, int status)
{
    m_others = Answer{status, body};
}

bool LoopbackService::writeHttpServerIni(const QString &folder, const QByteArray &extraLines) const
{
    QFile file(folder + QStringLiteral("/http_server.ini"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write("[server]\naddress=127.0.0.1\nport=" + QByteArray::number(port()) + "\nsubdir=praxo\n" + extraLines);
    return true;
}

void LoopbackService::serve(QTcpSocket *socket)
{
    QByteArray &data = m_pending[socket];
    data += socket->readAll();
    for (;;) {
        const qsizetype end = data.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray head = data.left(end);
        qsizetype length = 0;
        for (const QByteArray &line : head.split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (data.size() < end + 4 + length)
            return;
        const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
        const QString method = QString::fromLatin1(requestLine.value(0));
        const QString target = QString::fromLatin1(requestLine.value(1));
        requests << method + QLatin1Char(' ') + target;
        if (method == QLatin1String("POST"))
            postBodies << data.mid(end + 4, length);
        data.remove(0, end + 4 + length);

        const Answer reply = m_answers.value(target, m_others);
        const int cut = closeAfter >= 0 ? closeAfter : stallAfter;
        socket->write("HTTP/1.1 " + QByteArray::number(reply.status) + " X\r\nContent-Length: "
                      + QByteArray::number(reply.body.size()) + "\r\n\r\n" + (cut >= 0 ? reply.body.left(cut) : reply.body));
        socket->flush();
        if (closeAfter >= 0) {
            socket->disconnectFromHost();
            return;
        }
    }
}
