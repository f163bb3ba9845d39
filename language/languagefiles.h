#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class TIniFiles;

/// Reading rules shared by every user of "language.ini", "syslang.ini" and
/// "language_list.ini", and the recording of installed versions in "syslang.ini".
namespace LanguageFiles {

/// Number of sections whose name contains "lingua" in any case; the languages
/// are then "lingua1" ... "lingua<count>".
int countLanguages(TIniFiles &languageIni);

/// A display name as shown to the user. storedLatin1 holds the file's bytes
/// (one character per byte); codecName names their code page ("UTF-8",
/// "ISO8859-1", "windows-1252", "KOI8-R", ...). Text stored as UTF-8 bytes of
/// 8-bit characters is decoded as UTF-8 and those characters are decoded again
/// with the named code page; bytes that are not UTF-8 at all are decoded with
/// the code page directly. An unknown name keeps the UTF-8 decoding.
QString decodeDisplayName(const QString &storedLatin1, const QString &codecName);

/// The decoded display name of section (codec default "ISO8859-1").
QString readDisplayName(TIniFiles &ini, const QString &section, const QString &descriptionKey,
                        const QString &codecKey,
                        const QString &defaultDescription = QStringLiteral("Italiano"));

/// Id ("idlingua", default "ita") of the section "lingua" + "selected"/"currentlanguage"
/// (read as text, default defaultCurrent).
QString currentLanguageId(TIniFiles &ini, int defaultCurrent);

/// Id of the last language section whose "reserve" is 1; empty when none is.
QString reserveLanguageId(TIniFiles &ini);

/// Version text as a number: not a number (or empty) counts as 0, so "3.10" equals "3.1".
double versionNumber(const QString &text);

/// Copies the installed versions of the run from the work file into "./syslang.ini"
/// (updatePc) and cardRoot + "varno/syslang.ini" (updateCard; cardRoot ends with "/").
/// A missing work file records nothing.
void recordInstalledVersions(const QString &workSyslangPath, const QStringList &productIds,
                             const QStringList &databaseFolders, bool updatePc, bool updateCard,
                             const QString &cardRoot);

/// Whether the installation brought about the value section/key of the work
/// file; an empty function stands for every value.
using RecordedValue = std::function<bool(const QString &section, const QString &key)>;

/// The same into the given files (an empty path is not written). With
/// recorded, a product's diagnosis and technical-information versions, its
/// release (with its "datapack" date) and a database's version are copied
/// only when recorded says so; everything else keeps its recorded value.
void recordInstalledVersionsInto(const QString &workSyslangPath, const QStringList &productIds,
                                 const QStringList &databaseFolders, const QString &pcFile,
                                 const QString &cardFile, const RecordedValue &recorded);

} // namespace LanguageFiles
