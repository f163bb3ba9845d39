#include "update/fileinventory.h"

#include <QDirIterator>
#include <QFileInfo>

namespace {

const char *const pcExclusions[] = {"remedo", "docum", "man_proc", "mail", "text", "infoservice", "work", "log"};
const char *const cardExclusions[] = {"remedo", "docum", "man_proc", "mail", "text", "infoservice", "work"};

template<size_t N>
bool containsAny(const QString &path, const char *const (&words)[N])
{
    for (const char *word : words) {
        if (path.contains(QLatin1String(word)))
            return true;
    }
    return false;
}

// Walks root recursively; skip decides on the lower-cased full path.
template<typename Skip>
bool walk(const QString &root, const std::atomic<bool> &stop, QList<QByteArray> *files, Skip skip)
{
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (true) {
        if (stop.load(std::memory_order_relaxed))
            return false;
        if (!it.hasNext())
            return true;
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString lower = info.absoluteFilePath().toLower();
        if (skip(lower))
            continue;
        if (info.isFile())
            files->append(path.toLocal8Bit());
    }
}

} // namespace

namespace FileInventory {

QList<QByteArray> build(const InventoryInput &input, const std::atomic<bool> &stop)
{
    QList<QByteArray> files;
    const QString language = input.languageId;
    if (input.walkPc) {
        const bool finished = walk(input.pcRoot, stop, &files, [&language](const QString &lower) {
            return containsAny(lower, pcExclusions) || !lower.contains(language);
        });
        if (!finished)
            return files;
    }
    if (input.walkCard) {
        walk(input.cardRoot + QStringLiteral("varno"), stop, &files, [&language](const QString &lower) {
            return containsAny(lower, cardExclusions)
                || (lower.contains(QLatin1String("log")) && !lower.contains(language));
        });
    }
    return files;
}

QStringList missingFiles(const QList<QByteArray> &inventory)
{
    QStringList missing;
    for (const QByteArray &entry : inventory) {
        const QString path = QString::fromLocal8Bit(entry);
        if (!QFileInfo::exists(path))
            missing << QFileInfo(path).absoluteFilePath();
    }
    return missing;
}

} // namespace FileInventory
