#include "service/installedversions.h"

#include "service/deployment.h"
#include "settings/tinifiles.h"
#include "settings/tregistrysettings.h"

#include <QFile>
#include <QSettings>

namespace InstalledVersions {

namespace {

const QString cardProduct = QStringLiteral("pal_aster");

// A release file holds one short line; a binary file without line ends must
// not be read whole.
constexpr qint64 longestLine = 4096;

} // namespace

QString mainProgram(const Inputs &inputs)
{
    return inputs.productFolder == cardProduct ? inputs.cardRoot + QStringLiteral("varno/main")
                                               : QStringLiteral("main.exe");
}

QString firstLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("0.00");
    return QString::fromLatin1(file.readLine(longestLine));
}

Values values(const Inputs &inputs, const VersionReader &embeddedVersion)
{
    const bool card = inputs.productFolder == cardProduct;
    const QString languageFile
        = card ? inputs.cardRoot + QStringLiteral("varno/syslang.ini") : QStringLiteral("syslang.ini");
    const QString platform = card ? QStringLiteral("palm") : QStringLiteral("pc");
    const QString host
        = QSettings(QStringLiteral("./http_server.ini"), QSettings::IniFormat)
              .value(QStringLiteral("server/address"), QString::fromLatin1(Deployment::defaultServiceHost))
              .toString();
    const QString root = QStringLiteral("http://") + host + QStringLiteral("/files/varnohub/");
    const QString &product = inputs.productFolder;
    const QString &language = inputs.languageId;

    TIniFiles languages(languageFile, false);
    auto release = [&](const char *section) {
        return languages.readString(QString::fromLatin1(section), language, QStringLiteral("0"));
    };
    auto maxRelease = [&](const char *workdir) {
        return root + QStringLiteral("get_max_bbad_release_lingue.asp?workdir_product=")
            + QString::fromLatin1(workdir) + QStringLiteral("&customization=") + product
            + QStringLiteral("&language=") + language;
    };

    Values record {
        { QStringLiteral("Language"), inputs.languageId },
        { QStringLiteral("DefaultLanguage"), inputs.defaultLanguage },
        { QStringLiteral("SwVersion"), embeddedVersion ? embeddedVersion(mainProgram(inputs)) : QString() },
        { QStringLiteral("UpVersion"), inputs.updaterVersion },
        { QStringLiteral("DiagAuto"), release("ad") },
        { QStringLiteral("DiagMoto"), release("admoto_files") },
        { QStringLiteral("DiagTruck"), release("adtruck_files") },
        { QStringLiteral("UrlSwVersion"),
          root + QStringLiteral("get_filecontents.asp?file=") + product + QStringLiteral("/software_varno/")
              + platform + QStringLiteral("/version_") + platform + QStringLiteral(".txt") },
        { QStringLiteral("UrlUpVersion"),
          root + QStringLiteral("get_filecontents.asp?file=") + product
              + QStringLiteral("/update_software_varno_update/pc/ver_update.txt") },
        { QStringLiteral("UrlDiagAuto"), maxRelease("") },
        { QStringLiteral("UrlDiagMoto"), maxRelease("moto_files") },
        { QStringLiteral("UrlDiagTruck"), maxRelease("truck_files") },
    };
    if (card)
        return record;

    record += Values {
        { QStringLiteral("Remedo"), release("rmd") },
        { QStringLiteral("DbAuto"), firstLine(QStringLiteral("rel_db_auto.txt")) },
        { QStringLiteral("DbAutoTd"), firstLine(QStringLiteral("rel_db_techdoc.txt")) },
        { QStringLiteral("DbMoto"), firstLine(QStringLiteral("rel_db_moto.txt")) },
        { QStringLiteral("DbTruck"), firstLine(QStringLiteral("rel_db_truck.txt")) },
        { QStringLiteral("UrlRemedo"), root + QStringLiteral("remedo/version_rmd.txt") },
        { QStringLiteral("UrlDbAuto"),
          root + inputs.dataFolder + QStringLiteral("/database/rel_db_auto.txt") },
        { QStringLiteral("UrlDbAutoTd"),
          root + inputs.referenceDataFolder + QStringLiteral("/rel_db_techdoc.txt") },
        { QStringLiteral("UrlDbMoto"),
          root + inputs.dataFolder + QStringLiteral("/moto_files/database/rel_db_moto.txt") },
        { QStringLiteral("UrlDbTruck"),
          root + inputs.dataFolder + QStringLiteral("/truck_files/database/rel_db_truck.txt") },
    };
    return record;
}

bool record(const Inputs &inputs, const VersionReader &embeddedVersion)
{
    TRegistrySettings *registry = TRegistrySettings::instance(inputs.productFolder);
    if (!registry)
        return false;
    const Values all = values(inputs, embeddedVersion);
    for (const auto &value : all)
        registry->setValue(value.first, value.second);
    TRegistrySettings::release(); // writes the values
    return true;
}

} // namespace InstalledVersions
