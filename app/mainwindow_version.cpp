// The updater's version identity: the version marker of program files, and
// the forced stop of programs that an installation replaces.
#include "app/mainwindow.h"

#include "platform/platform.h"

#include <QFile>

QString MainWindow::updaterVersion()
{
    return QStringLiteral("3.65");
}

QString MainWindow::embeddedVersion(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();

    static const QByteArray marker("EXEC_VERSION=");
    auto isMarkerByte = [](char c) { return marker.contains(c); };

    // Byte by byte through a chunk buffer: a byte outside the marker's letters
    // clears the accumulator, and 13 collected bytes either are the marker or
    // are dropped (so a marker right after one of its own letters is missed).
    QByteArray accumulator;
    QByteArray chunk;
    bool found = false;
    QByteArray version;
    for (;;) {
        chunk = file.read(1 << 16);
        if (chunk.isEmpty())
            break;
        for (qsizetype i = 0; i < chunk.size(); ++i) {
            if (found) {
                version.append(chunk.at(i));
                if (version.size() == 4)
                    return QString::fromLatin1(version);
                continue;
            }
            const char c = chunk.at(i);
            if (!isMarkerByte(c)) {
                accumulator.clear();
                continue;
            }
            accumulator.append(c);
            if (accumulator.size() == 13) {
                if (accumulator == marker)
                    found = true;
                accumulator.clear();
            }
        }
    }
    return QString::fromLatin1(version);
}

void MainWindow::killProcess(const QString &programName)
{
    Platform::killProcess(programName);
}
