// The version-marker scan of program files on arbitrary files. The first byte
// chooses how far into the file the rest starts, so the marker also lands
// across the scan's 64 KiB read boundary.
#include "fuzzsupport.h"

#include "app/mainwindow.h"

#include <QDir>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = QDir(FuzzSupport::scratchFolder()).filePath(QStringLiteral("program.exe"));
    QByteArray content;
    QByteArray rest = FuzzSupport::bytes(data, size);
    if (size > 0 && (data[0] & 1)) {
        // Filler that is none of the marker's letters, ending just before the boundary.
        content.fill('.', (1 << 16) - (data[0] >> 1));
        rest = rest.mid(1);
    }
    content += rest;
    FuzzSupport::writeFile(path, content);

    const QString version = MainWindow::embeddedVersion(path);
    if (version.size() > 4)
        FuzzSupport::fail("version longer than four characters", version);
    if (!version.isEmpty() && !content.contains("EXEC_VERSION=" + version.toLatin1()))
        FuzzSupport::fail("version not found after a marker", version);
    return 0;
}
