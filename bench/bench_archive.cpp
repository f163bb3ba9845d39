// Helper of bench/archive.sh: runs one archive operation and exits with 0 on
// success, so the script can time it and read its peak memory.
//   bench_archive extract ARCHIVE DEST
//   bench_archive test ARCHIVE
//   bench_archive zipdir SRC ARCHIVE
//   bench_archive idle             (the program's own size, for comparison)

#include "archive/tzipfile.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString command = args.value(0);
    bool ok = false;
    if (command == QLatin1String("extract") && args.size() == 3) {
        // Progress goes to a notifier as in the program, so its cost is counted.
        QZipFileNotificationInterface notifier;
        uint last = 0;
        QObject::connect(&notifier, &QZipFileNotificationInterface::progress, &app,
                         [&last](uint done, uint) { last = done; });
        ok = TZipFile::UnzipArchive(args.at(1), args.at(2), true, QString(), &notifier);
        ok = ok && last > 0;
    } else if (command == QLatin1String("test") && args.size() == 2) {
        ok = TZipFile::TestArchive(args.at(1), QString());
    } else if (command == QLatin1String("zipdir") && args.size() == 3) {
        ok = TZipFile::ZipDirectory(args.at(1), args.at(1) + QLatin1Char('/'), args.at(2), QString());
    } else if (command == QLatin1String("idle")) {
        ok = true;
    } else {
        std::fprintf(
            stderr, "usage: bench_archive extract ARCHIVE DEST | test ARCHIVE | zipdir SRC ARCHIVE | idle\n");
        return 2;
    }
    return ok ? 0 : 1;
}
