#include "update/communications.h"

#include "platform/platform.h"
#include "settings/tinifiles.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTextDocumentFragment>

namespace Communications {

namespace {

const QString readSection = QStringLiteral("READ");

// A communication's first line holds its title; a file without line ends
// (binary, say) must not be read whole.
constexpr qint64 longestFirstLine = 64 * 1024;

// The communications are written by the service in UTF-8 or in the Western
// code page of Windows programs; text that is not valid UTF-8 is taken as
// the latter (Windows-1252 on Windows).
QString decodeLine(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    return utf8.hasError() ? Platform::decodeWindowsText(bytes) : text;
}

} // namespace

QString folder(const QString &languageId, bool cardOnly, const QString &cardRoot)
{
    return cardOnly ? cardRoot + QStringLiteral("varno/mails/") + languageId
                    : QStringLiteral("mails/") + languageId;
}

QString readMailsFile(bool cardOnly, const QString &cardRoot)
{
    return cardOnly ? cardRoot + QStringLiteral("varno/mails/read_mails.ini")
                    : QStringLiteral("mails/read_mails.ini");
}

QString newMark()
{
    return QStringLiteral("[NEW] ");
}

QStringList fileNames(const QString &folder)
{
    // QDir's defaults: every entry, sorted by name without regard to case.
    const QStringList entries = QDir(folder).entryList();
    QStringList names;
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        if (it->contains(QLatin1String(".htm")))
            names << *it;
    }
    return names;
}

QString dateText(const QString &fileName)
{
    return fileName.section(QLatin1Char('-'), 0, 2);
}

QString subject(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray line = file.readLine(longestFirstLine);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    const QString text = decodeLine(line);

    const QString open = QStringLiteral("<title>");
    const qsizetype start = text.indexOf(open);
    if (start < 0)
        return {};
    const qsizetype from = start + open.size();
    const qsizetype end = text.indexOf(QStringLiteral("</title>"), from);
    if (end < 0)
        return {}; // the title goes on past the first line
    return QTextDocumentFragment::fromHtml(text.mid(from, end - from)).toPlainText();
}

QList<Entry> list(const QString &folder, const QString &readMailsFile)
{
    TIniFiles readMails(readMailsFile, true);
    QList<Entry> entries;
    const QStringList names = fileNames(folder);
    for (const QString &name : names) {
        Entry entry;
        entry.fileName = name;
        entry.isNew = readMails.readInt(readSection, name, 10, 0) != 1;
        entry.dateCell = (entry.isNew ? newMark() : QString()) + dateText(name);
        entry.subject = subject(QDir(folder).filePath(name));
        entries << entry;
    }
    return entries;
}

void markRead(const QString &readMailsFile, const QString &fileName)
{
    TIniFiles readMails(readMailsFile, true);
    readMails.writeInt(readSection, fileName, 1);
}

QString withoutNewMark(QString cellText)
{
    return cellText.remove(newMark());
}

QUrl address(const QString &folder, const QString &fileName)
{
    // From the local path, so that "#", "%" or blanks in a name stay part of it.
    return QUrl::fromLocalFile(QDir(folder).absoluteFilePath(fileName));
}

} // namespace Communications
