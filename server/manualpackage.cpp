#include "server/manualpackage.h"

#include "update/downloadnames.h"
#include "update/updateplanner.h"
#include "language/languagefiles.h"
#include "server/catalogue.h"
#include "server/updateservice.h"
#include "server/zipwriter.h"
#include "service/serviceanswers.h"
#include "settings/tinifiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>

#include <filesystem>
#include <system_error>

namespace {

const QString serviceRoot = QStringLiteral("/files/varnohub/");
const QString notFound = QStringLiteral("NOT FOUND");
// The package is made for any installed version: every version it is asked
// for is 0, as a first run sends them.
const QString noVersion = QStringLiteral("0");

struct Language
{
    QString id;
    QString description;
};

// Asks the questions of the online update plan, in this process, of a
// service that answers from the catalogue folder.
class PackagePlan
{
public:
    explicit PackagePlan(const ManualPackageOptions &options)
        : options(options)
        , service(ServiceOptions { options.root, 0, QString(), 0, {} })
    {
    }

    bool make(const QString &zipPath, QStringList *lines, QString *error);

private:
    // The text answer of a GET, or false when the status is not 200.
    bool ask(const QString &target, QString *text)
    {
        const UpdateService::LocalAnswer answer = service.answerLocally(target.toUtf8());
        QByteArray body = answer.body;
        if (!answer.file.isEmpty()) {
            QFile file(answer.file);
            if (!file.open(QIODevice::ReadOnly))
                return false;
            body = file.read(16 * 1024 * 1024);
        }
        *text = QString::fromLatin1(body);
        return answer.status == 200;
    }
    // The file a service path is answered with; empty when it is no file.
    QString fileOf(const QString &servicePath)
    {
        const UpdateService::LocalAnswer answer = service.answerLocally(servicePath.toUtf8());
        return answer.status == 200 ? answer.file : QString();
    }
    bool fail(const QString &message)
    {
        failure = message;
        return false;
    }
    void addWhenPresent(const QString &entry)
    {
        QString size;
        if (!ask(serviceRoot + QStringLiteral("get_filesize.asp?file=") + DownloadNames::servicePath(entry),
                 &size)
            || size.trimmed() != QLatin1String("-1"))
            entries << entry;
    }
    bool newerThanNothing(const QString &version) const { return ServiceAnswers::versionNumber(version) > 0; }

    bool readRedirection();
    bool readProducts();
    bool readLanguages();
    bool planSoftware(const QString &folder, const QString &target, const QString &serverLanguages);
    bool planDiagnosis();
    bool planDatabasesAndNotifier();
    bool writeManifests(const QString &folder, const QStringList &fileValues);

    const ManualPackageOptions &options;
    UpdateService service;
    QString failure;

    QString softwareFolder;
    QString updaterFolder;
    QStringList databaseFolders;
    QString account;
    QStringList productIds;
    Language selected;
    Language reserve;
    QStringList entries;
    QStringList maxReleases; // per product
    QStringList databaseVersions; // per database folder
};

bool PackagePlan::readRedirection()
{
    QString answer;
    if (!ask(serviceRoot + QStringLiteral("get_custom_redirection.asp?customization=")
                 + options.customization,
             &answer)
        || answer.contains(notFound))
        return fail(QStringLiteral("the catalogue has no redirection for the customization %1")
                        .arg(options.customization));
    const QStringList fields = answer.split(QLatin1Char(';'));
    softwareFolder = fields.value(0);
    updaterFolder = fields.value(1);
    for (const QString &folder : fields.value(6).split(QLatin1Char('|'))) {
        if (!folder.isEmpty())
            databaseFolders << folder;
    }
    if (softwareFolder.isEmpty())
        return fail(
            QStringLiteral("the redirection of %1 names no software folder").arg(options.customization));

    account = options.account;
    if (account.isEmpty()) {
        const QStringList accounts
            = CatalogueFile(QDir(options.root).filePath(QStringLiteral("service.ini"))).current()->accounts();
        account = accounts.value(0);
    }
    return true;
}

bool PackagePlan::readProducts()
{
    QString answer;
    if (!ask(serviceRoot + QStringLiteral("get_product_names.asp?customization=") + options.customization,
             &answer)
        || answer.contains(notFound))
        return fail(QStringLiteral("the catalogue has no products for the customization %1")
                        .arg(options.customization));
    for (const UpdatePlanner::Product &product : UpdatePlanner::parseProducts(answer))
        productIds << product.id;
    if (productIds.isEmpty())
        return fail(QStringLiteral("the products of %1 name no product").arg(options.customization));
    return true;
}

bool PackagePlan::readLanguages()
{
    // The languages the service offers, as the language page lists them.
    QList<Language> offered;
    const QString listFile = fileOf(serviceRoot + updaterFolder
                                    + QStringLiteral("/update_software_varno_update/language_list.ini"));
    if (!listFile.isEmpty()) {
        TIniFiles list(listFile, true);
        const QString section = QStringLiteral("list");
        const int count = list.readInt(section, QStringLiteral("count"), 10, 0);
        for (int i = 0; i < count; ++i) {
            const QString number = QString::number(i);
            const QString id = list.readString(section, QStringLiteral("language_id_") + number);
            if (!id.isEmpty())
                offered.append({ id,
                                 LanguageFiles::readDisplayName(
                                     list, section, QStringLiteral("language_description_") + number,
                                     QStringLiteral("language_unicode_") + number) });
        }
    }
    auto described = [&](const QString &id) {
        for (const Language &language : std::as_const(offered)) {
            if (language.id == id)
                return language;
        }
        return Language { id, id };
    };
    if (!options.selectedLanguage.isEmpty())
        selected = described(options.selectedLanguage);
    else if (!offered.isEmpty())
        selected = offered.first();
    if (!options.reserveLanguage.isEmpty())
        reserve = described(options.reserveLanguage);
    else if (!offered.isEmpty())
        reserve = offered.value(1, offered.first());
    // The installation refuses a package without both languages and their names.
    if (selected.id.isEmpty() || reserve.id.isEmpty())
        return fail(
            QStringLiteral("no languages: the catalogue offers none (%1) and none were given")
                .arg(updaterFolder + QStringLiteral("/update_software_varno_update/language_list.ini")));
    return true;
}

bool PackagePlan::planSoftware(const QString &folder, const QString &target, const QString &serverLanguages)
{
    const QString software = serviceRoot + softwareFolder + QStringLiteral("/software_varno/");
    if (newerThanNothing(serverLanguages)) {
        addWhenPresent(software + QStringLiteral("languages/translations.zip:") + target);
        addWhenPresent(software + QStringLiteral("languages/flags_pc.zip:") + target);
    }
    QString server;
    if (!ask(software + folder + QStringLiteral("/version_") + folder + QStringLiteral(".txt"), &server))
        return fail(QStringLiteral("the catalogue has no software version %1").arg(folder));
    server = server.trimmed();
    // Nothing installed to go on from: the full package.
    if (newerThanNothing(server))
        addWhenPresent(software + folder + QStringLiteral("/release_0-") + server + QStringLiteral(".zip:")
                       + target);
    return true;
}

bool PackagePlan::planDiagnosis()
{
    for (const QString &product : std::as_const(productIds)) {
        QString maxRelease;
        const bool answered = ask(serviceRoot + QStringLiteral("get_max_bbad_release.asp?workdir_product=")
                                      + product + QStringLiteral("&customization=") + softwareFolder,
                                  &maxRelease);
        maxRelease = answered ? maxRelease.trimmed() : QString();
        maxReleases << maxRelease;
        QStringList questions;
        if (newerThanNothing(maxRelease)) {
            questions << serviceRoot + QStringLiteral("get_filebbad2download.asp?password=")
                    + ServiceAnswers::accountCode(account) + QStringLiteral("&bbadversion=") + noVersion
                    + QStringLiteral("&wdir=") + ServiceAnswers::productValue(product)
                    + QStringLiteral("&customization=") + softwareFolder;
        }
        for (const QString &language : { selected.id, reserve.id }) {
            questions << serviceRoot + QStringLiteral("get_file2download.asp?password=")
                    + ServiceAnswers::accountCode(account) + QStringLiteral("&language=") + language
                    + QStringLiteral("&adversion=") + noVersion + QStringLiteral("&mitversion=") + noVersion
                    + QStringLiteral("&id_product_active=") + ServiceAnswers::productValue(product)
                    + QStringLiteral("&customization=") + softwareFolder;
        }
        for (const QString &question : std::as_const(questions)) {
            QString answer;
            if (!ask(question, &answer) || answer.contains(notFound))
                return fail(QStringLiteral("the catalogue has no downloads for %1").arg(question));
            entries << UpdatePlanner::downloadEntries(answer);
        }
    }
    return true;
}

bool PackagePlan::planDatabasesAndNotifier()
{
    for (const QString &folder : std::as_const(databaseFolders)) {
        QString server;
        if (!ask(serviceRoot + folder + QStringLiteral("/version.txt"), &server))
            return fail(QStringLiteral("the catalogue has no version of the database %1").arg(folder));
        databaseVersions << server.trimmed();
        if (newerThanNothing(server))
            addWhenPresent(serviceRoot + folder + QStringLiteral("/0.zip:") + folder);
    }
    QString notifier;
    if (ask(serviceRoot + QStringLiteral("pal_ov_balloon/version.txt"), &notifier)
        && newerThanNothing(notifier))
        addWhenPresent(serviceRoot + QStringLiteral("pal_ov_balloon/balloon.zip:balloon"));
    return true;
}

// The two work-folder files, written with the class the installation reads
// them with: "syslang.ini" with section-prefixed keys, "update.ini" with
// plain keys.
bool PackagePlan::writeManifests(const QString &folder, const QStringList &fileValues)
{
    TIniFiles syslang(QDir(folder).filePath(QStringLiteral("syslang.ini")), false);
    TIniFiles manifest(QDir(folder).filePath(QStringLiteral("update.ini")), true);
    const QString lingua = QStringLiteral("lingua");
    syslang.writeString(lingua, QStringLiteral("sel"), selected.id);
    syslang.writeString(lingua, QStringLiteral("def"), reserve.id);
    syslang.writeUtf8String(lingua, QStringLiteral("description_sel"), selected.description);
    syslang.writeUtf8String(lingua, QStringLiteral("description_def"), reserve.description);

    const QString productGroup = QStringLiteral("product");
    const int slotCount = int(qMin<qsizetype>(3, productIds.size()));
    manifest.writeInt(productGroup, QStringLiteral("num_product"), int(productIds.size()));
    for (int slot = 0; slot < slotCount; ++slot)
        manifest.writeString(productGroup, QStringLiteral("idproduct_") + QString::number(slot),
                             productIds.at(slot));

    // Release texts "old - new": the package updates any installed version,
    // so the old one is shown as 0, as the online page shows it for an
    // installation that has none.
    const struct
    {
        const char *kind;
        const char *page;
        const char *group;
    } kinds[] = { { "ad", "get_bbad_releases.asp", "pc_update_ad" },
                  { "mit", "get_mit_releases.asp", "pc_update_mit" } };
    for (const auto &kind : kinds) {
        for (int slot = 0; slot < slotCount; ++slot) {
            const QString &product = productIds.at(slot);
            for (const Language &language : { selected, reserve }) {
                QString answer;
                const bool answered
                    = ask(serviceRoot + QLatin1String(kind.page) + QStringLiteral("?language=") + language.id
                              + QStringLiteral("&workdir_product=") + product
                              + QStringLiteral("&customization=") + options.customization,
                          &answer);
                const QString newest = answered ? UpdatePlanner::newestRelease(answer) : QString();
                manifest.writeString(QLatin1String(kind.group), product + language.id,
                                     noVersion + QStringLiteral(" - ") + newest);
                syslang.writeString(QLatin1String(kind.kind) + product, language.id, newest);
            }
        }
    }
    for (int slot = 0; slot < slotCount; ++slot)
        syslang.writeString(QStringLiteral("release"), productIds.at(slot), maxReleases.value(slot));
    for (int i = 0; i < databaseFolders.size(); ++i)
        syslang.writeString(databaseFolders.at(i), QStringLiteral("version"), databaseVersions.value(i));

    const QString files = QStringLiteral("pc_update");
    manifest.writeInt(files, QStringLiteral("num_files"), int(fileValues.size()));
    for (int i = 0; i < fileValues.size(); ++i)
        manifest.writeString(files, QStringLiteral("file_") + QString::number(i), fileValues.at(i));

    syslang.sync();
    manifest.sync();
    if (syslang.status() != QSettings::NoError || manifest.status() != QSettings::NoError)
        return fail(QStringLiteral("cannot write the manifests into %1").arg(folder));
    return true;
}

bool PackagePlan::make(const QString &zipPath, QStringList *lines, QString *error)
{
    QString serverLanguages;
    bool ok = readRedirection() && readProducts() && readLanguages();
    if (ok
        && !ask(serviceRoot + softwareFolder
                    + QStringLiteral("/software_varno/languages/version_languages.txt"),
                &serverLanguages))
        ok = fail(QStringLiteral("the catalogue has no language version"));
    ok = ok && planSoftware(QStringLiteral("pc"), QStringLiteral("varno_pc"), serverLanguages.trimmed())
        && planSoftware(QStringLiteral("palm"), QStringLiteral("varno_palm"), serverLanguages.trimmed())
        && planDiagnosis() && planDatabasesAndNotifier();

    // The archives under the names the download run gives them, in download
    // order; a name that comes twice holds the later package, as in "work".
    QStringList fileValues;
    QStringList names;
    QHash<QString, QString> sources;
    if (ok) {
        for (const QString &entry : UpdatePlanner::orderedDownloads(entries)) {
            const DownloadNames::LocalName local = DownloadNames::localName(entry, databaseFolders);
            if (local.name.isEmpty()) {
                // Listed without a file, it would stop the installation as corrupt.
                lines->append(QStringLiteral("left out (no local name): ") + entry);
                continue;
            }
            const QString file = fileOf(DownloadNames::servicePath(entry));
            if (file.isEmpty()) {
                ok = fail(QStringLiteral("the catalogue offers %1 but has no such file").arg(entry));
                break;
            }
            fileValues << DownloadNames::manifestValue(local);
            if (!sources.contains(local.name))
                names << local.name;
            sources.insert(local.name, file);
        }
    }

    QTemporaryDir staging;
    if (ok && !staging.isValid())
        ok = fail(QStringLiteral("cannot create a temporary folder"));
    ok = ok && writeManifests(staging.path(), fileValues);
    if (!ok) {
        *error = failure;
        return false;
    }

    QList<ZipEntry> zipEntries {
        { "syslang.ini", QByteArray(), staging.filePath(QStringLiteral("syslang.ini")) },
        { "update.ini", QByteArray(), staging.filePath(QStringLiteral("update.ini")) }
    };
    for (const QString &name : std::as_const(names)) {
        zipEntries.append({ name.toUtf8(), QByteArray(), sources.value(name) });
        lines->append(name + QStringLiteral(" <= ")
                      + QDir(options.root).relativeFilePath(sources.value(name)));
    }
    // Built beside the target and renamed over it: no half package under its name.
    const QString partPath = zipPath + QStringLiteral(".part");
    QFile::remove(partPath);
    if (!writeZip(partPath, zipEntries, error))
        return false;
    std::error_code renameError;
    std::filesystem::rename(std::filesystem::path(partPath.toStdU16String()),
                            std::filesystem::path(zipPath.toStdU16String()), renameError);
    if (renameError) {
        QFile::remove(partPath);
        *error = QStringLiteral("cannot rename %1 to %2").arg(partPath, zipPath);
        return false;
    }
    return true;
}

} // namespace

bool writeManualPackage(const QString &zipPath, const ManualPackageOptions &options, QStringList *lines,
                        QString *error)
{
    if (!QFileInfo::exists(QDir(options.root).filePath(QStringLiteral("service.ini")))) {
        *error = QStringLiteral("%1 holds no service.ini").arg(options.root);
        return false;
    }
    ManualPackageOptions absolute = options;
    absolute.root = QDir(options.root).absolutePath();
    PackagePlan plan(absolute);
    return plan.make(zipPath, lines, error);
}
