// The updater's version identity: the version marker of program files, and
// the forced stop of programs that an installation replaces.
#include "app/mainwindow.h"

#include "platform/platform.h"

#include <QFile>

// The updater's own marker, where embeddedVersion finds it in the program
// file: a new updater is told from an old one by it. External and read through
// a volatile pointer, so neither compiler nor linker can reduce it to "3.65".
extern const char updaterVersionMarker[];
const char updaterVersionMarker[] = "EXEC_VERSION=3.65";

QString MainWindow::updaterVersion()
{
    const char *volatile marker = updaterVersionMarker;
    return QString::fromLatin1(marker + 13, 4);
}

QString MainWindow::embeddedVersion(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();

    // Taken from the updater's own marker: a second copy of "EXEC_VERSION="
    // in this program would be found first in its own file.
    static const QByteArray marker(updaterVersionMarker, 13);
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
