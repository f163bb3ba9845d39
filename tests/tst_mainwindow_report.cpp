// The version report from the real window: dates from the service, the
// database uploaded to a real FTP server under the serial number and the
// service's stamp, the local database removed only after the upload.
#include "app/mainwindow.h"
#include "support/ftpfixture.h"
#include "support/loopbackservice.h"
#include "support/workspace.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

class TestMainWindowReport : public QObject
{
    Q_OBJECT

private slots:
    void reportIsUploadedByFtp()
    {
        if (!FtpFixture::available())
            QSKIP("the FTP server module is not installed");
        TestWorkspace ws;
        LoopbackService service;
        FtpFixture ftp(QStringLiteral("drumelfask"), QStringLiteral("vilta"));
        QVERIFY(ftp.start());
        QVERIFY(ftp.makeDir(QStringLiteral("varnohub/log/versione")));
        ws.writeFile(QStringLiteral("customize_update.ini"), "[personalizzazioni]\nupdate_pc=1\nupdate_palm=0\n");
        ws.writeFile(QStringLiteral("password.ini"), "[impostazioni]\npassword=O'Brien-1\nserialnumber=SN7\n");
        ws.makeDir(QStringLiteral("plugins/log")); // made by every run's preparation
        service.writeHttpServerIni(ws.path(), "ftp_port=" + QByteArray::number(ftp.port()) + "\n");
        service.answer(QStringLiteral("/files/varnohub/datetime_ms.asp"), "2026-12-08 10:11:12.345Z");
        service.answer(QStringLiteral("/files/varnohub/datetime_ov.asp"), "2026-12-08_10-11-12");

        {
            MainWindow w;
            w.recordVersionReport();
        }
        const QString remote = QStringLiteral("varnohub/log/versione/SN7_2026-12-08_10-11-12_versione.db");
        QCOMPARE(ftp.fileNames(QStringLiteral("varnohub/log/versione")),
                 QStringList{QStringLiteral("SN7_2026-12-08_10-11-12_versione.db")});
        QVERIFY(!QFile::exists(ws.filePath(QStringLiteral("plugins/log/raccolta_dati_versioni.db"))));

        const QString copy = ws.filePath(QStringLiteral("uploaded.db"));
        QFile out(copy);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(ftp.readFile(remote));
        out.close();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
            db.setDatabaseName(copy);
            QVERIFY(db.open());
            QSqlQuery query(QStringLiteral("SELECT sn, createDate, verUpdate, password, device FROM t_versione"), db);
            QVERIFY(query.next());
            QCOMPARE(query.value(0).toString(), QStringLiteral("SN7"));
            QCOMPARE(query.value(1).toString(), QStringLiteral("2026-12-08 10:11:12.345"));
            QCOMPARE(query.value(2).toString(), QStringLiteral("3.65"));
            QCOMPARE(query.value(3).toString(), QStringLiteral("O'Brien-1"));
            QCOMPARE(query.value(4).toString(), QStringLiteral("ASTER"));
            QVERIFY(!query.next());
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
    }
};

QTEST_MAIN(TestMainWindowReport)
#include "tst_mainwindow_report.moc"
