// Extraction and test of arbitrary bytes as a zip archive. Whatever the
// archive holds, nothing may appear outside the destination folder: the
// archive and the destinations sit deep in a private tree that is walked
// after every input (the working folder is part of that tree too).
#include "fuzzsupport.h"

#include "archive/tzipfile.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace {

QString root;
QString startFolder; // libFuzzer reads and writes its corpus relative to it

void checkTree(const QStringList &allowedFolders, const QString &archive)
{
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isSymLink())
            FuzzSupport::fail("link created", path);
        if (path == archive)
            continue;
        bool inside = false;
        for (const QString &folder : allowedFolders) {
            // The destination folders themselves and their parents exist beforehand.
            if (path == folder || folder.startsWith(path + QLatin1Char('/')) || path.startsWith(folder + QLatin1Char('/')))
                inside = true;
        }
        if (!inside)
            FuzzSupport::fail("file written outside the destination", path);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    root = FuzzSupport::scratchFolder() + QStringLiteral("/r");
    startFolder = QDir::currentPath();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QDir(root).removeRecursively();
    const QString work = root + QStringLiteral("/a/b/c/work");
    const QString kept = root + QStringLiteral("/a/b/c/kept");
    const QString flat = root + QStringLiteral("/a/b/c/flat");
    const QString archive = root + QStringLiteral("/a/b/c/in.zip");
    for (const QString &folder : {work, kept, flat}) {
        if (!QDir().mkpath(folder))
            FuzzSupport::fail("cannot create folder", folder);
    }
    FuzzSupport::writeFile(archive, FuzzSupport::bytes(data, size));
    if (!QDir::setCurrent(work))
        FuzzSupport::fail("cannot enter working folder", work);
    TZipFile::UnzipArchive(archive, kept + QLatin1Char('/'), true, QString());
    TZipFile::UnzipArchive(archive, flat + QLatin1Char('/'), false, QString());
    TZipFile::TestArchive(archive);
    // The working folder must stay empty: only the two destinations may be written.
    checkTree({kept, flat, work}, archive);
    const QStringList top = QDir(FuzzSupport::scratchFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (top != QStringList{QStringLiteral("r")})
        FuzzSupport::fail("file written above the private tree", top.join(QLatin1Char(' ')));
    if (!QDir(work).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        FuzzSupport::fail("file written to the working folder");
    QDir::setCurrent(startFolder);
    return 0;
}
