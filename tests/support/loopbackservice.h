#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

/// A small HTTP/1.1 responder on 127.0.0.1 for tests that need exact control
/// over single answers: each request target (path with query, as sent) maps
/// to a status and a body; unknown targets get 404. Records the request lines
/// ("METHOD TARGET") and the bodies of POSTs.
class LoopbackService : public QObject
{
public:
    LoopbackService();
    quint16 port() const { return m_server.serverPort(); }

    void answer(const QString &target, const QByteArray &body, int status = 200);
    /// The answer for targets without their own (404 "not found" unless set).
    void answerOthers(const QByteArray &body, int status = 200);
    /// Writes "http_server.ini" into folder pointing at this service.
    bool writeHttpServerIni(const QString &folder, const QByteArray &extraLines = QByteArray()) const;

    QStringList requests;
    QList<QByteArray> postBodies;
    /// When >= 0: the full Content-Length is announced, that many body bytes
    /// are sent, then the connection is dropped (closeAfter) or left silent
    /// (stallAfter).
    int closeAfter = -1;
    int stallAfter = -1;

private:
    void serve(QTcpSocket *socket);

    struct Answer
    {
        int status = 200;
        QByteArray body;
    };
    QTcpServer m_server;
    QHash<QString, Answer> m_answers;
    Answer m_others{404, QByteArray("not found")};
    QHash<QTcpSocket *, QByteArray> m_pending;
};
