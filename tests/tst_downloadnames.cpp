// Where a package lands is decided by its local name: the table of rules,
// its order, and the entries that must not produce a name at all.
#include "update/downloadnames.h"

#include <QtTest>

class TestDownloadNames : public QObject
{
    Q_OBJECT

private slots:
    void localNames_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("manifest");

        QTest::newRow("pc software") << "/files/varnohub/soft/software_varno/pc/release_1-2.zip:varno_pc"
                                     << "varno_pc_release_1-2.zip" << "varno_pc_release_1-2.zip";
        QTest::newRow("card flags") << "/files/varnohub/soft/software_varno/languages/flags_pc.zip:varno_palm"
                                    << "varno_palm_flags_pc.zip" << "varno_palm_flags_pc.zip";
        QTest::newRow("easy") << "/files/varnohub/soft/easyfolder/e.zip:easy" << "easy_easyfolder_pc_e.zip"
                              << "easy_easyfolder_pc_e.zip";
        QTest::newRow("techdoc") << "/files/varnohub/td/t.zip:techdoc" << "techdoc_t.zip" << "techdoc_t.zip";
        QTest::newRow("database folder before database") << "/files/varnohub/db1/0.zip:db1" << "db1_0.zip"
                                                         << "db1_0.zip";
        QTest::newRow("notifier") << "/files/varnohub/pal_ov_balloon/balloon.zip:balloon" << "balloon_balloon.zip"
                                  << "balloon_balloon.zip:balloon";
        QTest::newRow("car diagnosis") << "/files/varnohub/soft/bbad/x/y/b12.zip:bbadfile" << "bbadfile_pc_b12.zip"
                                       << "bbadfile_pc_b12.zip:bbad";
        QTest::newRow("car data") << "/files/varnohub/soft/ad/ita/z/a.zip:adfiles" << "adfiles_z_pc_a.zip"
                                  << "adfiles_z_pc_a.zip";
        QTest::newRow("car database") << "/files/varnohub/soft/x/y/d.zip:database" << "database_d.zip"
                                      << "database_d.zip";
        QTest::newRow("moto diagnosis") << "/files/varnohub/soft/moto_files/y/b.zip:bbadfile"
                                        << "moto_filesbbadfile_pc_b.zip" << "moto_filesbbadfile_pc_b.zip:bbad";
        QTest::newRow("truck data") << "/files/varnohub/soft/truck_files/ad/ita/w/a.zip:adfiles"
                                    << "truck_filesadfiles_w_pc_a.zip" << "truck_filesadfiles_w_pc_a.zip";
        QTest::newRow("moto database") << "/files/varnohub/soft/moto_files/d.zip:database"
                                       << "moto_filesdatabase_d.zip" << "moto_filesdatabase_d.zip";
        QTest::newRow("no colon") << "/files/varnohub/soft/a.zip" << "" << "";
        QTest::newRow("empty entry") << "" << "" << "";
        QTest::newRow("FOUND") << "FOUND" << "" << "";
        QTest::newRow("no file name") << "/files/varnohub/soft/:varno_pc" << "" << "";
        QTest::newRow("no path") << ":varno_pc" << "" << "";
        QTest::newRow("target leaving the folder") << "/files/varnohub/a.zip:../../x" << "" << "";
        QTest::newRow("colon in the target") << "/files/varnohub/a.zip:bbadfile:x" << "" << "";
    }

    void localNames()
    {
        QFETCH(QString, entry);
        QFETCH(QString, name);
        QFETCH(QString, manifest);
        const DownloadNames::LocalName local = DownloadNames::localName(entry, {QStringLiteral("db1")});
        QCOMPARE(local.name, name);
        if (!name.isEmpty())
            QCOMPARE(DownloadNames::manifestValue(local), manifest);
    }

    void servicePathAndTarget()
    {
        QCOMPARE(DownloadNames::servicePath(QStringLiteral("/a/b.zip:t:u")), QStringLiteral("/a/b.zip"));
        QCOMPARE(DownloadNames::target(QStringLiteral("/a/b.zip:t:u")), QStringLiteral("t:u"));
        QCOMPARE(DownloadNames::target(QStringLiteral("/a/b.zip")), QString());
    }
};

QTEST_GUILESS_MAIN(TestDownloadNames)
#include "tst_downloadnames.moc"
