#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

/// The service's communications to the customer: small HTML files in a
/// per-language "mails" folder, listed newest first with their date and
/// subject; the ones not opened yet are marked new until the user opens them.
/// Which ones were opened is kept in "read_mails.ini" (section "READ", key =
/// file name, value 1).
namespace Communications {

/// "mails/" + languageId, or cardRoot + "varno/mails/" + languageId when the
/// update covers only the card (cardRoot ends with "/").
QString folder(const QString &languageId, bool cardOnly, const QString &cardRoot);
/// "mails/read_mails.ini", or cardRoot + "varno/mails/read_mails.ini" when
/// the update covers only the card.
QString readMailsFile(bool cardOnly, const QString &cardRoot);

/// The mark put before the date of a communication not opened yet.
QString newMark();

/// Names in folder that contain ".htm", in the folder's name order (case
/// ignored) reversed, so that date-first names come newest first. A missing
/// folder gives none.
QStringList fileNames(const QString &folder);

/// The first three "-"-separated fields of a file name ("2024-05-17-x.htm"
/// gives "2024-05-17"); a name with fewer fields is given whole.
QString dateText(const QString &fileName);

/// The plain text of the "<title>" element on the first line of the file;
/// empty when the file cannot be read, is empty, or its first line has no
/// complete title.
QString subject(const QString &filePath);

struct Entry
{
    QString fileName;
    /// Date text, prefixed with newMark() when not read.
    QString dateCell;
    QString subject;
    bool isNew = true;
};

/// The communications of folder in display order, marked from readMailsFile.
QList<Entry> list(const QString &folder, const QString &readMailsFile);

/// Records fileName as opened (written to the file at once).
void markRead(const QString &readMailsFile, const QString &fileName);

/// cellText without any new-mark.
QString withoutNewMark(QString cellText);

/// The address that opens a communication of folder in the system's viewer
/// ("file:///C:/.../mails/ita/<name>" on Windows).
QUrl address(const QString &folder, const QString &fileName);

} // namespace Communications
