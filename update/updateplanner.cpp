#include "update/updateplanner.h"

#include "update/downloadnames.h"

#include "language/languagefiles.h"
#include "platform/platform.h"
#include "service/packagedownload.h"
#include "service/serviceanswers.h"
#include "service/thttp.h"
#include "settings/tinifiles.h"
#include "settings/tregistrysettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <memory>
#include <utility>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

namespace {

const QString serviceRoot = QStringLiteral("/files/varnohub/");
const QString lineEnd = QStringLiteral("\r\n");
const QString linguaWord = QStringLiteral("lingua");
const QString notFound = QStringLiteral("NOT FOUND");
const QString entriesGroup = QStringLiteral("syslang_entries");

bool isNewer(const QString &server, const QString &local)
{
    return ServiceAnswers::versionNumber(server) > ServiceAnswers::versionNumber(local);
}

QString linguaSection(int number)
{
    return linguaWord + QString::number(number);
}

// The keys of a language section that the card receives from the PC.
const char *const copiedLanguageKeys[]
    = { "date_format", "description", "file",     "file_sb", "file_sd",
        "file_ss",     "file_su",     "idlingua", "image",   "unicodecodecname" };

void copyLanguageSection(TIniFiles &from, const QString &fromSection, TIniFiles &to, const QString &toSection,
                         bool withReserve)
{
    for (const char *key : copiedLanguageKeys) {
        const QString name = QLatin1String(key);
        to.writeString(toSection, name, from.readString(fromSection, name, QString()));
    }
    if (withReserve) {
        const QString name = QStringLiteral("reserve");
        to.writeString(toSection, name, from.readString(fromSection, name, QString()));
    }
}

/// The system-language files of the sides the run covers. A value known on
/// both sides counts as the smaller of the two: the side further behind
/// decides what is fetched. A value known on one side only is that side's
/// (a side without it has nothing to compare); on neither side, the default.
class SystemLanguages
{
public:
    SystemLanguages(int scope, const QString &cardRoot)
    {
        if (scope == 0 || scope == 2)
            pcFile = std::make_unique<TIniFiles>(QStringLiteral("./syslang.ini"), false);
        if (scope == 1 || scope == 2)
            cardFile = std::make_unique<TIniFiles>(cardRoot + QStringLiteral("varno/syslang.ini"), false);
    }

    QString value(const QString &section, const QString &key, const QString &defaultValue) const
    {
        if (pcFile && cardFile) {
            const bool onPc = known(*pcFile, section, key);
            const bool onCard = known(*cardFile, section, key);
            if (onPc != onCard)
                return (onPc ? pcFile : cardFile)->readString(section, key, defaultValue);
            return UpdatePlanner::smallerVersion(pcFile->readString(section, key, defaultValue),
                                                 cardFile->readString(section, key, defaultValue));
        }
        return (pcFile ? pcFile : cardFile)->readString(section, key, defaultValue);
    }

    /// The covered files, PC first.
    QList<TIniFiles *> sides() const
    {
        QList<TIniFiles *> list;
        if (pcFile)
            list << pcFile.get();
        if (cardFile)
            list << cardFile.get();
        return list;
    }

private:
    // A blank value says no more than a missing one.
    static bool known(TIniFiles &file, const QString &section, const QString &key)
    {
        return file.hasValue(section, key) && !file.readString(section, key).trimmed().isEmpty();
    }

    std::unique_ptr<TIniFiles> pcFile;
    std::unique_ptr<TIniFiles> cardFile;
};

/// One run of the plan; every step returns false when the run must end.
class PlanRun
{
public:
    PlanRun(THttp &http, const UpdatePlanner::VersionReader &embeddedVersion, const PlanInput &input)
        : http(http)
        , embeddedVersion(embeddedVersion)
        , in(input)
        , softwareRoot(serviceRoot + input.softwareFolder + QStringLiteral("/software_varno/"))
    {
    }

    PlanResult execute();

private:
    struct Side
    {
        QString languageIni;
        QString program;
        QString folder; // "pc" or "palm"
        QString target;
    };

    bool fail(const QString &step);
    void recordLanguages();
    bool readProducts();
    bool planSoftware(const Side &side, const QString &serverLanguages);
    bool planDiagnosis(const SystemLanguages &local);
    bool planDatabases(const SystemLanguages &local);
    bool planNotifier();
    void addWhenPresent(const QString &entry);
    bool takeDownloads(const QString &answer, const QString &step, QStringList &answerEntries);
    bool prepareWorkFolder();
    bool writeWorkManifests(const SystemLanguages &local);

    THttp &http;
    const UpdatePlanner::VersionReader &embeddedVersion;
    const PlanInput &in;
    const QString softwareRoot;
    PlanResult result;
    QStringList downloads;
    QStringList maxReleases; // per product, from the diagnosis step
    QStringList databaseVersions; // per database folder, from the database step
    // What each answer put into the download list, before the clean-up.
    QMap<QString, QStringList> releaseEntries; // per product
    QMap<QString, QStringList> languageEntries; // per product + "|" + language
    QMap<QString, QStringList> databaseEntries; // per database folder
};

bool PlanRun::fail(const QString &step)
{
    result.ok = false;
    result.failedAt = step;
    result.downloadList = downloads;
    qCDebug(lcApp).noquote() << "update plan: failed at" << step;
    return false;
}

PlanResult PlanRun::execute()
{
    if (in.updateScope < 0 || in.updateScope > 2) {
        fail(QStringLiteral("scope"));
        return result;
    }
    const bool pcCovered = in.updateScope == 0 || in.updateScope == 2;
    const bool cardCovered = in.updateScope == 1 || in.updateScope == 2;
    // Without a card its files would be looked for in the program folder.
    if (cardCovered && in.cardRoot.isEmpty()) {
        fail(QStringLiteral("card"));
        return result;
    }

    recordLanguages();
    if (!readProducts())
        return result;

    const QString languageVersionPath = softwareRoot + QStringLiteral("languages/version_languages.txt");
    const QString pcLanguages = http.getText(languageVersionPath).trimmed();
    if (!http.answeredOk()) {
        fail(QStringLiteral("language version"));
        return result;
    }
    if (pcCovered
        && !planSoftware({ QStringLiteral("language.ini"), QStringLiteral("main.exe"), QStringLiteral("pc"),
                           QStringLiteral("varno_pc") },
                         pcLanguages))
        return result;

    const QString cardLanguages = http.getText(languageVersionPath).trimmed();
    if (!http.answeredOk()) {
        fail(QStringLiteral("language version (instrument)"));
        return result;
    }
    if (cardCovered
        && !planSoftware({ in.cardRoot + QStringLiteral("varno/language.ini"),
                           in.cardRoot + QStringLiteral("varno/main"), QStringLiteral("palm"),
                           QStringLiteral("varno_palm") },
                         cardLanguages))
        return result;

    const SystemLanguages local(in.updateScope, in.cardRoot);
    if (!planDiagnosis(local) || !planDatabases(local) || !planNotifier())
        return result;

    result.downloadList = UpdatePlanner::orderedDownloads(downloads);
    qCDebug(lcApp).noquote() << "download list:" << result.downloadList;

    // The client's running sum is not cleared between calls: take this list's share.
    const qint64 before = http.expected();
    result.downloadSizes = http.fileSizes(result.downloadList);
    result.totalDownloadSize = qMax<qint64>(0, http.expected() - before);

    if (!prepareWorkFolder() || !writeWorkManifests(local))
        return result;
    // The download cache keeps only what this list names: never more than one update.
    QStringList names;
    for (const QString &entry : std::as_const(result.downloadList))
        names << DownloadCache::slotName(DownloadNames::localName(entry, in.databaseFolders).name,
                                         DownloadNames::servicePath(entry));
    DownloadCache().prune(names);
    result.ok = true;
    return result;
}

// "currentlanguage" and "reserve" in the PC's language file and, when only the
// card is updated, in the card's, which receives the chosen languages it lacks.
void PlanRun::recordLanguages()
{
    TIniFiles pc(QStringLiteral("language.ini"), false);
    const QString selected = QStringLiteral("selected");
    const QString current = QStringLiteral("currentlanguage");
    const QString reserve = QStringLiteral("reserve");
    const QString idKey = QStringLiteral("idlingua");
    const QString italian = QStringLiteral("ita");

    int pcSelected = 0;
    int pcReserve = 0;
    const int pcCount = LanguageFiles::countLanguages(pc);
    for (int i = 1; i <= pcCount; ++i) {
        const QString id = pc.readString(linguaSection(i), idKey, italian);
        if (id == in.selectedLanguageId) {
            pc.writeInt(selected, current, i);
            pcSelected = i;
        }
        const bool isReserve = id == in.reserveLanguageId;
        pc.writeInt(linguaSection(i), reserve, isReserve ? 1 : 0);
        if (isReserve)
            pcReserve = i;
    }
    if (in.updateScope != 1)
        return;

    TIniFiles card(in.cardRoot + QStringLiteral("varno/language.ini"), false);
    // Copies go behind the card's own languages, so none is overwritten and
    // the count of "lingua" sections still reaches every one of them.
    int count = LanguageFiles::countLanguages(card);
    bool found = false;
    for (int i = 1; i <= count; ++i) {
        if (card.readString(linguaSection(i), idKey, italian) == in.selectedLanguageId) {
            card.writeInt(selected, current, i);
            found = true;
        }
    }
    if (!found && pcSelected > 0) {
        ++count;
        copyLanguageSection(pc, linguaSection(pcSelected), card, linguaSection(count), false);
        card.writeInt(selected, current, count);
        qCDebug(lcApp).noquote() << "card language" << in.selectedLanguageId << "copied to"
                                 << linguaSection(count);
    }
    // The reserve search includes a copy just made: the same language chosen
    // twice is copied once.
    found = false;
    for (int i = 1; i <= count; ++i) {
        const bool isReserve = card.readString(linguaSection(i), idKey, italian) == in.reserveLanguageId;
        card.writeInt(linguaSection(i), reserve, isReserve ? 1 : 0);
        found = found || isReserve;
    }
    if (!found && pcReserve > 0) {
        ++count;
        copyLanguageSection(pc, linguaSection(pcReserve), card, linguaSection(count), true);
        qCDebug(lcApp).noquote() << "card language" << in.reserveLanguageId << "copied to"
                                 << linguaSection(count);
    }
}

bool PlanRun::readProducts()
{
    const QString answer = http.getProductNames();
    if (!http.answeredOk())
        return fail(QStringLiteral("product names"));
    for (const UpdatePlanner::Product &product : UpdatePlanner::parseProducts(answer)) {
        result.productNames << product.name;
        result.productIds << product.id;
    }
    qCDebug(lcApp).noquote() << "products:" << result.productIds;
    return true;
}

void PlanRun::addWhenPresent(const QString &entry)
{
    if (http.getFileSize(entry) != -1)
        downloads << entry;
}

bool PlanRun::planSoftware(const Side &side, const QString &serverLanguages)
{
    QString localLanguages;
    {
        TIniFiles languages(side.languageIni, false);
        localLanguages = languages.readString(QStringLiteral("version"), QStringLiteral("languages"),
                                              QStringLiteral("0.0"));
    }
    if (isNewer(serverLanguages, localLanguages)) {
        addWhenPresent(softwareRoot + QStringLiteral("languages/translations.zip:") + side.target);
        addWhenPresent(softwareRoot + QStringLiteral("languages/flags_pc.zip:") + side.target);
    }

    const QString local = embeddedVersion(side.program).trimmed();
    const QString packages = softwareRoot + side.folder + QLatin1Char('/');
    const QString server
        = http.getText(packages + QStringLiteral("version_") + side.folder + QStringLiteral(".txt"))
              .trimmed();
    if (!http.answeredOk())
        return fail(QStringLiteral("software version ") + side.folder);
    if (!isNewer(server, local))
        return true;

    // The incremental package from the installed version (from "" when no
    // program is installed), else the full one.
    const QString incremental = packages + QStringLiteral("release_") + local + QLatin1Char('-') + server
        + QStringLiteral(".zip:") + side.target;
    if (http.getFileSize(incremental) != -1) {
        downloads << incremental;
        return true;
    }
    addWhenPresent(packages + QStringLiteral("release_0-") + server + QStringLiteral(".zip:") + side.target);
    return true;
}

bool PlanRun::takeDownloads(const QString &answer, const QString &step, QStringList &answerEntries)
{
    if (!http.answeredOk() || answer.contains(notFound))
        return fail(step);
    const QStringList entries = UpdatePlanner::downloadEntries(answer);
    downloads << entries;
    answerEntries << entries;
    return true;
}

bool PlanRun::planDiagnosis(const SystemLanguages &local)
{
    for (const QString &product : std::as_const(result.productIds)) {
        const QString localRelease = local.value(QStringLiteral("release"), product, QString());
        const QString maxRelease = http.getMaxBbadRelease(product, in.softwareFolder).trimmed();
        maxReleases << (http.answeredOk() ? maxRelease : QString());
        if (isNewer(maxRelease, localRelease)) {
            const QString answer
                = http.getFileBbad2Download(in.accountCode, localRelease, product, in.softwareFolder);
            if (!takeDownloads(answer, QStringLiteral("diagnosis software ") + product,
                               releaseEntries[product]))
                return false;
        }
        for (const QString &language : { in.selectedLanguageId, in.reserveLanguageId }) {
            const QString ad = local.value(QStringLiteral("ad") + product, language, QString());
            const QString mit = local.value(QStringLiteral("mit") + product, language, QString());
            const QString answer
                = http.getFile2Download(in.accountCode, language, ad, mit, product, in.softwareFolder);
            // The data and the technical information of the language share the answer.
            if (!takeDownloads(answer,
                               QStringLiteral("diagnosis data ") + product + QLatin1Char(' ') + language,
                               languageEntries[product + QLatin1Char('|') + language]))
                return false;
        }
    }
    return true;
}

bool PlanRun::planDatabases(const SystemLanguages &local)
{
    for (const QString &folder : in.databaseFolders) {
        if (folder.isEmpty()) {
            databaseVersions << QString();
            continue;
        }
        const QString localVersion = local.value(folder, QStringLiteral("version"), QStringLiteral("0.00"));
        const QString server = http.getText(serviceRoot + folder + QStringLiteral("/version.txt")).trimmed();
        if (!http.answeredOk())
            return fail(QStringLiteral("database ") + folder);
        databaseVersions << server;
        if (isNewer(server, localVersion)) {
            // A package missing on the service is left out of the list, and
            // its version waits for it all the same.
            const QString entry = serviceRoot + folder + QStringLiteral("/0.zip:") + folder;
            databaseEntries[folder] << entry;
            addWhenPresent(entry);
        }
    }
    return true;
}

bool PlanRun::planNotifier()
{
    const QString noVersion = QStringLiteral("0.00");
    QString localVersion = noVersion;
    // Released only when this call opened it: another key may be open elsewhere.
    if (TRegistrySettings *registry = TRegistrySettings::instance(QStringLiteral("NotificaAggiornamenti"))) {
        localVersion = registry->value(QStringLiteral("Versione"), noVersion);
        TRegistrySettings::release();
    }
    if (!QFileInfo::exists(Platform::orvaneFolder() + QStringLiteral("ov_update_notify/OVUpdateNotify.exe")))
        localVersion = noVersion;

    const QString server = http.getText(serviceRoot + QStringLiteral("pal_ov_balloon/version.txt"));
    if (!isNewer(server, localVersion))
        return true;
    if (!http.answeredOk())
        return fail(QStringLiteral("notifier"));
    addWhenPresent(serviceRoot + QStringLiteral("pal_ov_balloon/balloon.zip:balloon"));
    return true;
}

bool PlanRun::prepareWorkFolder()
{
    const QString workName = QStringLiteral("work");
    if (!QDir().mkpath(workName))
        return fail(QStringLiteral("work folder"));
    const QDir work(workName);
    const QStringList files = work.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : files) {
        if (!QFile::remove(work.filePath(name)))
            qCDebug(lcApp).noquote() << "cannot remove" << work.filePath(name);
    }
    return true;
}

bool PlanRun::writeWorkManifests(const SystemLanguages &local)
{
    TIniFiles syslang(QStringLiteral("work/syslang.ini"), false);
    TIniFiles manifest(QStringLiteral("work/update.ini"), true);
    const QString lingua = QStringLiteral("lingua");
    syslang.writeString(lingua, QStringLiteral("sel"), in.selectedLanguageId);
    syslang.writeString(lingua, QStringLiteral("def"), in.reserveLanguageId);
    syslang.writeUtf8String(lingua, QStringLiteral("description_sel"), in.selectedDescription);
    syslang.writeUtf8String(lingua, QStringLiteral("description_def"), in.reserveDescription);

    const QString productGroup = QStringLiteral("product");
    const int slotCount = int(qMin<qsizetype>(3, result.productIds.size()));
    manifest.writeInt(productGroup, QStringLiteral("num_product"), int(result.productIds.size()));
    for (int slot = 0; slot < slotCount; ++slot)
        manifest.writeString(productGroup, QStringLiteral("idproduct_") + QString::number(slot),
                             result.productIds.at(slot));

    struct Kind
    {
        QString name;
        QString manifestGroup;
        QString (THttp::*releases)(const QString &, const QString &);
        QStringList *texts;
    };
    const Kind kinds[] = {
        { QStringLiteral("ad"), QStringLiteral("pc_update_ad"), &THttp::getBbadReleases,
          &result.diagnosisTexts },
        { QStringLiteral("mit"), QStringLiteral("pc_update_mit"), &THttp::getMitReleases,
          &result.informationTexts },
    };
    const QList<TIniFiles *> sides = local.sides();
    ValueEntries record;
    for (const Kind &kind : kinds) {
        for (int slot = 0; slot < slotCount; ++slot) {
            const QString product = result.productIds.at(slot);
            const QString group = kind.name + product;
            const std::pair<QString, QString> languages[] = {
                { in.selectedLanguageId, in.selectedDescription },
                { in.reserveLanguageId, in.reserveDescription },
            };
            QString newest[2];
            for (int k = 0; k < 2; ++k) {
                const QString answer = (http.*kind.releases)(languages[k].first, product);
                // An error page is no release list.
                newest[k] = http.answeredOk() ? UpdatePlanner::newestRelease(answer) : QString();
            }

            QString text;
            for (TIniFiles *side : sides) {
                for (int k = 0; k < 2; ++k) {
                    text += lineEnd + side->readString(group, languages[k].first, QStringLiteral("0"))
                        + QStringLiteral(" - ") + newest[k] + QStringLiteral(": ") + languages[k].second;
                }
            }
            *kind.texts << text;

            for (int k = 0; k < 2; ++k) {
                manifest.writeString(kind.manifestGroup, product + languages[k].first,
                                     local.value(group, languages[k].first, QString()) + QStringLiteral(" - ")
                                         + newest[k]);
            }
            for (int k = 0; k < 2; ++k) {
                syslang.writeString(group, languages[k].first, newest[k]);
                record.add(group, languages[k].first,
                           languageEntries.value(product + QLatin1Char('|') + languages[k].first),
                           in.databaseFolders);
            }
        }
    }

    // The versions the installation brings about. A failed answer must not
    // become an installed version: the value of the check above stands then.
    for (int slot = 0; slot < slotCount; ++slot) {
        const QString product = result.productIds.at(slot);
        const QString answer = http.getMaxBbadRelease(product, in.softwareFolder).trimmed();
        syslang.writeString(QStringLiteral("release"), product,
                            http.answeredOk() ? answer : maxReleases.value(slot));
        record.add(QStringLiteral("release"), product, releaseEntries.value(product), in.databaseFolders);
    }
    for (int i = 0; i < in.databaseFolders.size(); ++i) {
        const QString &folder = in.databaseFolders.at(i);
        if (folder.isEmpty())
            continue;
        const QString answer = http.getText(serviceRoot + folder + QStringLiteral("/version.txt")).trimmed();
        syslang.writeString(folder, QStringLiteral("version"),
                            http.answeredOk() ? answer : databaseVersions.value(i));
        record.add(folder, QStringLiteral("version"), databaseEntries.value(folder), in.databaseFolders);
    }
    record.write(manifest);

    syslang.sync();
    manifest.sync();
    if (syslang.status() != QSettings::NoError || manifest.status() != QSettings::NoError)
        return fail(QStringLiteral("work manifests"));
    return true;
}

} // namespace

UpdatePlanner::UpdatePlanner(THttp &http, VersionReader embeddedVersion)
    : http(http)
    , embeddedVersion(std::move(embeddedVersion))
{
}

PlanResult UpdatePlanner::run(const PlanInput &input)
{
    PlanRun planRun(http, embeddedVersion, input);
    return planRun.execute();
}

QList<UpdatePlanner::Product> UpdatePlanner::parseProducts(const QString &answer)
{
    const QStringList fields = answer.split(QLatin1Char(';'));
    const QString marker = fields.at(0);
    QList<Product> products;
    // Every field contains the empty text: such an answer marks no items.
    if (marker.isEmpty())
        return products;
    bool emptyIdSeen = false;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (!fields.at(i).contains(marker))
            continue;
        // Fields beyond the end are empty: the last product of an answer
        // without a closing ";" keeps its empty id. Without even a name field
        // there is no product (a sentinel such as "NOT FOUND").
        if (i + 3 >= fields.size()) {
            qCDebug(lcApp) << "product item at field" << i << "has no name";
            continue;
        }
        const Product product { fields.at(i + 3).trimmed(), fields.value(i + 4).trimmed() };
        if (product.id.isEmpty()) {
            if (emptyIdSeen)
                continue;
            emptyIdSeen = true;
        }
        products << product;
    }
    return products;
}

QStringList UpdatePlanner::downloadEntries(const QString &answer)
{
    QStringList entries;
    for (const QString &line : answer.split(lineEnd)) {
        if (line.indexOf(QLatin1Char(':')) > 0)
            entries << line;
        else if (!line.isEmpty())
            qCDebug(lcApp).noquote() << "download line without service path and target left out:" << line;
    }
    return entries;
}

QStringList UpdatePlanner::orderedDownloads(const QStringList &entries)
{
    QStringList ordered = entries;
    for (const QString &word : { QStringLiteral("database"), QStringLiteral("balloon") }) {
        QStringList front;
        QStringList back;
        for (const QString &entry : std::as_const(ordered))
            (entry.contains(word) ? back : front) << entry;
        ordered = front + back;
    }
    ordered.removeDuplicates();
    ordered.removeOne(QString());
    ordered.removeOne(QStringLiteral("FOUND"));
    return ordered;
}

QString UpdatePlanner::newestRelease(const QString &answer)
{
    const QStringList lines = answer.split(lineEnd);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QString release = it->trimmed();
        if (!release.isEmpty())
            return release;
    }
    return QString();
}

QString ValueEntries::valueKey(const QString &section, const QString &key)
{
    return (section + QLatin1Char('.') + key).toLower();
}

void ValueEntries::add(const QString &section, const QString &key, const QStringList &entries,
                       const QStringList &databaseFolders)
{
    QStringList &archives = values[valueKey(section, key)];
    for (const QString &entry : entries) {
        const QString name = DownloadNames::localName(entry, databaseFolders).name;
        archives << (name.isEmpty() ? QStringLiteral("/") : name);
    }
}

bool ValueEntries::broughtAbout(const QString &section, const QString &key,
                                const QStringList &installed) const
{
    const auto found = values.constFind(valueKey(section, key));
    if (found == values.constEnd())
        return false;
    for (const QString &archive : *found) {
        if (!installed.contains(archive))
            return false;
    }
    return true;
}

void ValueEntries::write(TIniFiles &manifest) const
{
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        manifest.writeString(entriesGroup, it.key(), it.value().join(QLatin1Char(':')));
}

std::optional<ValueEntries> ValueEntries::read(TIniFiles &manifest)
{
    const QString prefix = entriesGroup + QLatin1Char('/');
    ValueEntries record;
    bool any = false;
    const QStringList keys = manifest.allKeys();
    for (const QString &stored : keys) {
        if (!stored.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        const QString key = stored.mid(prefix.size());
        record.values[key.toLower()]
            = manifest.readString(entriesGroup, key).split(QLatin1Char(':'), Qt::SkipEmptyParts);
        any = true;
    }
    if (!any)
        return std::nullopt;
    return record;
}

QString UpdatePlanner::smallerVersion(const QString &first, const QString &second)
{
    return ServiceAnswers::versionNumber(second) < ServiceAnswers::versionNumber(first) ? second : first;
}
