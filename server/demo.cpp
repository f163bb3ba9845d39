#include "server/demo.h"

#include "server/zipwriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

bool writeFile(const QString &path, const QByteArray &content, QString *error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit())
        return true;
    *error = QStringLiteral("cannot write %1").arg(path);
    return false;
}

QByteArray languageList()
{
    return "[list]\r\ncount=2\r\n"
           "language_id_0=ita\r\nlanguage_description_0=Italiano\r\nlanguage_unicode_0=UTF-8\r\n"
           "language_id_1=eng\r\nlanguage_description_1=English\r\nlanguage_unicode_1=UTF-8\r\n";
}

// Service paths of the diagnosis packages: the local-name rules take the
// language from the third folder after the software folder (fourth for the
// motorbike product, whose path begins with its work folder).
QByteArray adEntry(const QByteArray &product, const QByteArray &language)
{
    if (product.isEmpty())
        return "/files/varnohub/praxo/ad/auto/" + language + "/ad_auto_" + language + "_1.10.zip:adfiles";
    return "/files/varnohub/praxo/" + product + "/ad/moto/" + language + "/ad_moto_" + language
        + "_1.10.zip:adfiles";
}

QByteArray mitEntry(const QByteArray &product, const QByteArray &language)
{
    const QByteArray family = product.isEmpty() ? "auto" : "moto";
    const QByteArray folder = product.isEmpty() ? QByteArray("/files/varnohub/praxo/mit/")
                                                : "/files/varnohub/praxo/" + product + "/mit/";
    return folder + family + '/' + language + "/mit_" + family + '_' + language + "_1.10.zip:mitfiles";
}

QByteArray bbadEntry(const QByteArray &product)
{
    if (product.isEmpty())
        return "/files/varnohub/praxo/bbad/bbad_auto_1.10.zip:bbadfile";
    return "/files/varnohub/praxo/" + product + "/bbad/bbad_moto_1.10.zip:bbadfile";
}

QByteArray servicePathOf(const QByteArray &entry)
{
    return entry.left(entry.indexOf(':')).mid(int(qstrlen("/files/varnohub/")));
}

} // namespace

bool writeDemoCatalogue(const QString &folder, QString *error)
{
    QDir root(folder);
    if (!root.mkpath(QStringLiteral("."))) {
        *error = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    auto file = [&](const QByteArray &relative, const QByteArray &content) {
        return writeFile(root.filePath(QString::fromUtf8(relative)), content, error);
    };
    auto zip = [&](const QByteArray &relative, const QList<ZipEntry> &entries) {
        const QString path = root.filePath(QString::fromUtf8(relative));
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::remove(path);
        return writeZip(path, entries, error);
    };

    const QByteArray updater = "praxo/update_software_varno_update/";
    const QByteArray software = "praxo/software_varno/";
    bool ok = file(updater + "pc/ver_update.txt", "3.65")
        && file(updater + "pc/update_hub.exe", "#!/bin/sh\necho \"demo updater started with $*\"\n")
        && file(updater + "language_list.ini", languageList())
        && file(updater + "language_listmoto_files.ini", languageList())
        && file(updater + "language_listtruck_files.ini", languageList())
        && file(software + "languages/version_languages.txt", "1.1")
        && zip(software + "languages/translations.zip",
               { { "translations/update_hub_eng.qm.txt", "demo translation (eng)\n" },
                 { "translations/main_ita.lng", "demo translation (ita)\n" },
                 { "translations/main_eng.lng", "demo translation (eng)\n" } })
        && zip(software + "languages/flags_pc.zip",
               { { "update_flags/ita.png.txt", "flag ita\n" }, { "update_flags/eng.png.txt", "flag eng\n" } })
        && file(software + "pc/version_pc.txt", "3.70")
        && zip(software + "pc/release_0-3.70.zip",
               { { "main.exe", "demo diagnosis program EXEC_VERSION=3.70 full\n" },
                 { "plugins/readme.txt", "PC software 3.70\n" } })
        && zip(software + "pc/release_3.60-3.70.zip",
               { { "main.exe", "demo diagnosis program EXEC_VERSION=3.70 incremental\n" } })
        && file(software + "palm/version_palm.txt", "2.10")
        && zip(software + "palm/release_0-2.10.zip",
               { { "main", "demo instrument software EXEC_VERSION=2.10\n" },
                 { "bin/readme.txt", "instrument software 2.10\n" } })
        && file("database_auto/version.txt", "1.05")
        && zip("database_auto/0.zip",
               { { "rel_db_auto.txt", "1.05\r\n" }, { "db/auto.db.txt", "demo vehicle database\n" } })
        && file("data_praxo/database/rel_db_auto.txt", "1.05\r\n") && file("remedo/version_rmd.txt", "1.00")
        && file("pal_ov_balloon/version.txt", "1.20")
        && zip("pal_ov_balloon/balloon.zip",
               { { "OVUpdateNotify.exe", "demo update notifier\n" }, { "version.txt", "1.20" } });
    if (!ok)
        return false;

    // Diagnosis packages of both products in both languages.
    for (const QByteArray &product : { QByteArray(), QByteArray("moto_files") }) {
        const QByteArray family = product.isEmpty() ? "auto" : "moto";
        if (!zip(servicePathOf(bbadEntry(product)),
                 { { "bbad_" + family + ".dat", "diagnosis software 1.10\n" } }))
            return false;
        for (const QByteArray &language : { QByteArray("ita"), QByteArray("eng") }) {
            if (!zip(servicePathOf(adEntry(product, language)),
                     { { "diag/" + family + '/' + language + "/ad.dat",
                         "diagnosis data 1.10 " + language + '\n' } })
                || !zip(servicePathOf(mitEntry(product, language)),
                        { { "info/" + family + '/' + language + "/mit.dat",
                            "technical information 1.10 " + language + '\n' } }))
                return false;
        }
    }

    QByteArray ini = "# Demo catalogue written by update_hub_service --make-demo (see server/README.md).\n"
                     "# Account code DEMO-0001, customization key praxo.\n\n"
                     "[service]\nmaintenance => 0\n\n"
                     "[account DEMO-0001]\n"
                     "SN => VH-DEMO-0001\n"
                     "CELLULARE => +39 333 0000001\n"
                     "E-MAIL => officina@example.com\n"
                     "RIVENDITORE => demo_dealer\n"
                     "RAGIONE SOCIALE => Officina Demo\n\n"
                     "[redirections]\n"
                     "praxo => praxo;praxo;data_praxo;demo;demo;demo;database_auto;ref_praxo\n\n"
                     "[products]\n"
                     "praxo => varno;1;auto;Automobili;;varno;2;moto;Motocicli;moto_files\n\n"
                     "[bbad_releases]\n"
                     "*||praxo => 1.00\\r\\n1.10\\r\\n\n"
                     "*|moto_files|praxo => 1.00\\r\\n1.10\\r\\n\n\n"
                     "[mit_releases]\n"
                     "*||praxo => 1.00\\r\\n1.10\\r\\n\n"
                     "*|moto_files|praxo => 1.00\\r\\n1.10\\r\\n\n\n"
                     "[max_bbad_release]\n"
                     "|praxo => 1.10\n"
                     "moto_files|praxo => 1.10\n\n"
                     "[bbad_downloads]\n"
                     "*|*|standard_product|praxo => "
        + bbadEntry(QByteArray())
        + "\n"
          "*|*|moto_files|praxo => "
        + bbadEntry("moto_files")
        + "\n\n"
          "# Packages for an installation that has none yet (version 0); nothing\n"
          "# for one that is up to date.\n"
          "[downloads]\n";
    for (const QByteArray &product : { QByteArray(), QByteArray("moto_files") }) {
        for (const QByteArray &language : { QByteArray("ita"), QByteArray("eng") }) {
            ini += "*|" + language + "|0|*|" + (product.isEmpty() ? QByteArray("standard_product") : product)
                + "|praxo => " + adEntry(product, language) + "\\r\\n" + mitEntry(product, language) + '\n';
        }
    }
    ini += "*|*|*|*|*|praxo =>\n";
    return file("service.ini", ini);
}
