#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class THttp;
class TIniFiles;

/// The archives (local names in the work folder) that each value of
/// "work/syslang.ini" waits for: the entries that the service's answer or the
/// check behind the value put into the download list, left-out entries
/// included. A value is brought about when every one of them was installed;
/// an answer that named nothing needs nothing. The record lives in the work
/// manifest, so a copy of the work folder used as a manual package keeps it.
class ValueEntries
{
public:
    /// Adds the entries ("service path:target") of an answer to the value
    /// section/key; adding no entries still makes the value known.
    void add(const QString &section, const QString &key, const QStringList &entries,
             const QStringList &databaseFolders);

    /// Whether the value was brought about: known, and every archive it waits
    /// for is among installed. An entry without a local name stands as "/",
    /// which no archive is called.
    bool broughtAbout(const QString &section, const QString &key, const QStringList &installed) const;

    /// Into and from the group "syslang_entries" of the work manifest (plain
    /// keys "<section>.<key>", archives joined by ":"). A manifest without
    /// the group (a manual package made elsewhere) gives no record.
    void write(TIniFiles &manifest) const;
    static std::optional<ValueEntries> read(TIniFiles &manifest);

private:
    static QString valueKey(const QString &section, const QString &key);

    QMap<QString, QStringList> values;
};

/// What the plan of an update run starts from: the run's scope and card, the
/// service folders of the redirection, the account code and the two chosen
/// languages with their display texts.
struct PlanInput
{
    int updateScope = 3; // 0 PC only, 1 card only, 2 both
    QString cardRoot; // ends with "/"
    QString softwareFolder; // redirection field 0
    QStringList databaseFolders;
    QString accountCode; // as typed, dashes included
    QString selectedLanguageId;
    QString reserveLanguageId;
    QString selectedDescription;
    QString reserveDescription;
};

/// The plan: what to download and what the available-updates page shows.
/// On failure ok is false, failedAt names the step (for the trace), and the
/// lists hold what was gathered up to there.
struct PlanResult
{
    bool ok = false;
    QString failedAt;
    QStringList productIds; // every product the service reported
    QStringList productNames; // parallel to productIds, untranslated
    QStringList downloadList; // "service path:target", in download order
    QList<qint64> downloadSizes; // the service's size of each entry
    qint64 totalDownloadSize = 0;
    QStringList diagnosisTexts; // one per product slot (at most three)
    QStringList informationTexts; // one per product slot (at most three)
};

/// The planning step of an online update run: records the chosen languages in
/// the language files, asks the service what is newer than the installation,
/// builds the download list and prepares "work/syslang.ini" and
/// "work/update.ini" for the installation. All paths are relative to the
/// current folder (the program folder). Every request is synchronous.
class UpdatePlanner
{
public:
    using VersionReader = std::function<QString(const QString &)>;

    /// embeddedVersion reads the version marker of a program file.
    UpdatePlanner(THttp &http, VersionReader embeddedVersion);

    PlanResult run(const PlanInput &input);

    struct Product
    {
        QString name;
        QString id;
    };
    /// The items of a product-names answer: ";"-separated fields, an item at
    /// every field that contains field 0, its name three and its id four
    /// fields further (an id beyond the end is empty). Items without a name
    /// field are left out, and so is a second product with an empty id.
    static QList<Product> parseProducts(const QString &answer);

    /// The download entries of a download answer ("\r\n"-separated): lines
    /// without a service path and a ":" are left out.
    static QStringList downloadEntries(const QString &answer);

    /// The download order: entries with "database" after the others, then
    /// those with "balloon"; the first of equal entries stays; one empty and
    /// one "FOUND" entry are removed.
    static QStringList orderedDownloads(const QStringList &entries);

    /// The newest release of a release list ("\r\n"-separated, oldest first):
    /// its last non-blank line, or empty.
    static QString newestRelease(const QString &answer);

    /// Of two version texts, the one with the smaller number (the first when equal).
    static QString smallerVersion(const QString &first, const QString &second);

private:
    THttp &http;
    VersionReader embeddedVersion;
};
