// Faults injected into whole online runs through the real window: the
// reference service refuses, fails, drops, stalls or babbles at one phase of
// the run (redirection, updater check, login, plan requests, downloads, the
// report upload), or the disk fills up or turns read-only. Every run must end
// where that failure ends a run, without a crash or a hang, without reaching
// the updates-done page after a failure, without files outside the
// installation, and with the old settings files intact unless the run got as
// far as the step that rewrites them.
#include "app/mainwindow.h"
#include "archive/tzipfile.h"
#include "language/ttranslator.h"
#include "platform/platform.h"
#include "support/ftpfixture.h"
#include "support/modalanswerer.h"
#include "support/proxyfixture.h"
#include "support/servicefixture.h"
#include "support/testsystem.h"
#include "support/workspace.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QLineEdit>
#include <QOperatingSystemVersion>
#include <QRandomGenerator>
#include <QStackedWidget>
#include <QToolButton>
#include <QtTest>


#include <functional>
#include <memory>

namespace {

const QString connectionMessage
    = QStringLiteral("Attenzione, impossibile scaricare gli ultimi aggiornamenti.");
const QString root = QStringLiteral("/files/varnohub/");

/// How a run ended.
enum Outcome {
    Message = 1, // the connection message box
    Corrupt = 2, // "Archivio <name>: Corrotto." in stati.log
    Unpack = 4, // "Decompressione del pacchetto <name>: Fallita." in stati.log
    Done = 8, // the updates-done page (the fault is one the run tolerates)
    Other = 16, // anything else: a silent stop, another message
    Fetch = 32, // "Download del pacchetto <name> non riuscito." in stati.log and shown with its cause
};

QString outcomeName(int outcome)
{
    switch (outcome) {
    case Message:
        return QStringLiteral("connection message");
    case Corrupt:
        return QStringLiteral("archive corrupt");
    case Unpack:
        return QStringLiteral("extraction failed");
    case Done:
        return QStringLiteral("run completed");
    case Fetch:
        return QStringLiteral("download failed");
    default:
        return QStringLiteral("other");
    }
}

/// The settings files an installation starts with.
const QStringList settingsFiles { QStringLiteral("language.ini"), QStringLiteral("password.ini"),
                                  QStringLiteral("customize_update.ini"), QStringLiteral("http_server.ini"),
                                  QStringLiteral("syslang.ini") };

/// An installation beside the reference service (demo catalogue, optional
/// fault rules) and an FTP server for the version report.
struct Site
{
    TestWorkspace ws;
    // One service for every run of the program, with the demo catalogue
    // made afresh for each (makeCatalogue()) and the run's faults in it.
    ServiceFixture *service = &ServiceFixture::shared();
    QDir catalogue { service->root() };
    FtpFixture ftp { QStringLiteral("drumelfask"), QStringLiteral("vilta") };
    QHash<QString, QByteArray> settingsBefore;
    // One try per package unless a row is about resuming.
    QByteArray retries = "download_retries=0\n";
    // More lines of http_server.ini (a proxy).
    QByteArray extraIni;

    bool makeCatalogue()
    {
        return service->startShared() && ServiceFixture::makeDemoCatalogue(catalogue.path());
    }

    /// Without withFtp no FTP server runs (for runs that stop before the report).
    bool start(const QStringList &faults, bool withFtp = true, bool ftpFolder = true, int updatePc = 1,
               int updatePalm = 1)
    {
        if (!faults.isEmpty()) {
            // Each "PREFIX=>ACTION" is a line of the catalogue's [faults].
            const QByteArray lines = "\n[faults]\n" + faults.join(QLatin1Char('\n')).toUtf8() + '\n';
            QFile ini(catalogue.filePath(QStringLiteral("service.ini")));
            if (!ini.open(QIODevice::Append) || ini.write(lines) != lines.size())
                return false;
        }
        if (service->port() == 0 || (withFtp && !ftp.start()))
            return false;
        if (withFtp && ftpFolder && !ftp.makeDir(QStringLiteral("varnohub/log/versione")))
            return false;
        ws.writeFile(QStringLiteral("customize_update.ini"),
                     "[personalizzazioni]\nupdate_pc=" + QByteArray::number(updatePc)
                         + "\nupdate_palm=" + QByteArray::number(updatePalm) + "\n");
        ws.writeFile(QStringLiteral("password.ini"),
                     "[impostazioni]\npassword=DEMO-0001\nserialnumber=SN9\n");
        ws.writeFile(QStringLiteral("language.ini"),
                     "[lingua1]\nlingua1_description=Italiano\nlingua1_idlingua=ita\n"
                     "[lingua2]\nlingua2_description=English\nlingua2_idlingua=eng\nlingua2_reserve=1\n"
                     "[selected]\nselected_currentlanguage=1\n");
        ws.writeFile(QStringLiteral("syslang.ini"), "[lingua]\nlingua_sel=ita\nlingua_def=eng\n");
        ws.writeFile(QStringLiteral("card/varno/main"), "EXEC_VERSION=1.00");
        ws.makeDir(QStringLiteral("card/qte"));
        qputenv("UPDATE_HUB_DRIVES", ws.filePath(QStringLiteral("card")).toLocal8Bit());
        if (!ServiceFixture::writeHttpServerIni(ws.path(), service->port(), QStringLiteral("praxo"),
                                                "ftp_port=" + QByteArray::number(ftp.port())
                                                    + "\nstall_timeout=2\n" + retries + extraIni))
            return false;
        for (const QString &name : settingsFiles)
            settingsBefore.insert(name, ws.readFile(name));
        return true;
    }

    QByteArray file(const QString &relative) const { return ws.readFile(relative); }
    bool exists(const QString &relative) const { return QFile::exists(ws.filePath(relative)); }
};

template<typename T> T *child(MainWindow &w, const char *name)
{
    return w.findChild<T *>(QLatin1String(name));
}

int stepPage(MainWindow &w)
{
    return child<QStackedWidget>(w, "stackedWidgetAgg")->currentIndex();
}

/// The steps of an online run, as far as the user gets.
enum Reached { Started, Planned, Installed };

struct RunResult
{
    int outcome = Other;
    Reached reached = Started;
    QString detail;
    qint64 milliseconds = 0;
};

/// Drives one online run from the download button on; stops at the first
/// message box or at a page that does not follow. beforeInstall runs
/// between the plan and the confirmation of the available updates.
RunResult drive(Site &site, const std::function<void()> &beforeInstall = {})
{
    RunResult result;
    QElapsedTimer clock;
    clock.start();
    ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
    answerer.ignore(QStringLiteral("TProxyLoginBox"));
    // A run that hangs ends the test at once instead of at the suite's time-out.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, []() { qFatal("the run did not end within 60 s"); });
    watchdog.start(60000);
    MainWindow w;
    w.show();
    auto click = [&](const char *name) {
        QTest::mouseClick(child<QToolButton>(w, name), Qt::LeftButton);
        return answerer.messages().isEmpty();
    };
    // Each step goes on only while no message box appeared.
    const bool toLanguages = click("tbDownload") && click("tbOkPw") && click("tbOkInfo") && stepPage(w) == 1;
    if (toLanguages) {
        result.reached = Planned;
        if (click("tbOkSelezionaLingua") && stepPage(w) == 2) {
            result.reached = Installed;
            if (beforeInstall)
                beforeInstall();
            click("tbOkAggiornamentiDisponibili");
        }
    }
    result.milliseconds = clock.elapsed();

    const QString status = QString::fromUtf8(site.file(QStringLiteral("stati.log")));
    const QStringList messages = answerer.messages();
    // A failed archive is shown with the text of the status log and the advice to repeat.
    QString failure;
    if (status.startsWith(QLatin1String("Archivio ")) && status.contains(QLatin1String(": Corrotto.")))
        failure = status.left(status.indexOf(QLatin1String(": Corrotto.")) + 11);
    else if (status.startsWith(QLatin1String("Decompressione del pacchetto ")) && status.contains(QLatin1String(": Fallita.")))
        failure = status.left(status.indexOf(QLatin1String(": Fallita.")) + 10);
    const bool archiveMessage = !failure.isEmpty()
        && messages == QStringList { failure + QStringLiteral(" Ripetere l'aggiornamento.") };
    // A package that could not be fetched: the status log names it, the
    // message adds the cause.
    const QString fetchFailure = status.left(status.indexOf(QLatin1String(" non riuscito.")) + 14);
    const bool fetchMessage = status.startsWith(QLatin1String("Download del pacchetto "))
        && status.contains(QLatin1String(" non riuscito.")) && messages.size() == 1
        && messages.first().startsWith(fetchFailure + QLatin1Char(' '));
    if (fetchMessage) {
        result.outcome = Fetch;
        result.detail = messages.first();
    } else if (!messages.isEmpty() && !archiveMessage) {
        result.outcome
            = messages.size() == 1 && messages.first().contains(connectionMessage) ? Message : Other;
        result.detail = messages.join(QLatin1Char('|'));
    } else if (status.startsWith(QLatin1String("Archivio "))
               && status.contains(QLatin1String(": Corrotto."))) {
        result.outcome = Corrupt;
        result.detail = status.left(status.indexOf(QLatin1String(": Corrotto.")) + 11);
    } else if (status.startsWith(QLatin1String("Decompressione del pacchetto "))
               && status.contains(QLatin1String(": Fallita."))) {
        result.outcome = Unpack;
        result.detail = status.left(status.indexOf(QLatin1String(": Fallita.")) + 10);
    } else if (stepPage(w) == 3 && messages.isEmpty()) {
        result.outcome = Done;
    } else {
        result.detail = QStringLiteral("page %1, status log \"%2\"").arg(stepPage(w)).arg(status.left(60));
    }
    // Whatever the outcome, a failure never shows the updates-done page.
    if (result.outcome != Done && stepPage(w) == 3)
        result.outcome = Other;
    return result;
}

/// Answers the proxy's login dialog from a timer: the next login of the
/// list, Cancel when the list is used up.
struct ProxyLoginAnswerer
{
    QStringList logins; // "user:password"
    int shown = 0;
    int answerAfterMs = 0; // how long the user takes
    QElapsedTimer open;
    QTimer timer;

    ProxyLoginAnswerer()
    {
        QObject::connect(&timer, &QTimer::timeout, [this]() {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (widget->objectName() != QLatin1String("TProxyLoginBox") || !widget->isVisible())
                    continue;
                if (!open.isValid())
                    open.start();
                if (open.elapsed() < answerAfterMs)
                    return;
                open.invalidate();
                auto *user = widget->findChild<QLineEdit *>(QStringLiteral("lineEditProxyUser"));
                auto *password = widget->findChild<QLineEdit *>(QStringLiteral("lineEditProxyPassword"));
                QVERIFY(user && password);
                QCOMPARE(password->echoMode(), QLineEdit::Password);
                ++shown;
                const bool answer = !logins.isEmpty();
                if (answer) {
                    const QString login = logins.takeFirst();
                    user->setText(login.section(QLatin1Char(':'), 0, 0));
                    password->setText(login.section(QLatin1Char(':'), 1));
                }
                QTest::mouseClick(widget->findChild<QToolButton *>(answer ? QStringLiteral("tbOk")
                                                                          : QStringLiteral("tbCancel")),
                                  Qt::LeftButton);
                return;
            }
        });
        timer.start(10);
    }
};

/// Files below the workspace's own folder other than the program folder
/// (which holds the card) and the home folder.
QStringList strayFiles(const Site &site)
{
    const QDir top(QFileInfo(site.ws.path()).absolutePath());
    QStringList stray;
    for (const QString &name :
         top.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (name != QLatin1String("program") && name != QLatin1String("home"))
            stray << name;
    }
    return stray;
}

/// Settings files that changed although the run never reached the step that rewrites them.
QStringList damagedSettings(const Site &site, const RunResult &run)
{
    QStringList damaged;
    for (const QString &name : settingsFiles) {
        // The language page's choice goes to "language.ini" when the plan starts,
        // and a finished installation records its releases in "syslang.ini".
        if (name == QLatin1String("language.ini") && run.reached >= Planned)
            continue;
        if (name == QLatin1String("syslang.ini") && run.outcome == Done)
            continue;
        if (site.file(name) != site.settingsBefore.value(name))
            damaged << name;
    }
    return damaged;
}

struct TableRow
{
    QString fault;
    QString phase;
    QString outcome;
    bool correct = false;
};

/// Mounts a small tmpfs for the lifetime of the object.
struct TmpfsMount
{
    QString path;
    bool mounted = false;
    TmpfsMount(const QString &where, const char *options)
        : path(where)
    {
        mounted = TestSystem::mountTmpfs(path, QString::fromLatin1(options));
    }
    bool makeReadOnly() const { return TestSystem::remountReadOnly(path); }
    ~TmpfsMount()
    {
        if (mounted)
            TestSystem::unmount(path);
    }
};

/// A zip holding one file of random bytes (it does not shrink when deflated).
bool writeRandomPackage(const QString &archive, const QString &entry, int size)
{
    QTemporaryDir source;
    QFile file(source.filePath(entry));
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray bytes(size, '\0');
    QRandomGenerator generator(7);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    file.write(bytes);
    file.close();
    QFile::remove(archive);
    return TZipFile::ZipDirectory(source.path(), source.path() + QLatin1Char('/'), archive, QString());
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

    QList<TableRow> table;

    /// Checks one finished run and records it in the table.
    void judge(Site &site, const RunResult &run, const QString &fault, const QString &phase, int expected,
               const QString &expectedDetail, const QString &knownFault = QString())
    {
        const QStringList stray = strayFiles(site);
        const QStringList damaged = damagedSettings(site, run);
        const bool correct = (run.outcome & expected) && stray.isEmpty() && damaged.isEmpty()
            && (expectedDetail.isEmpty() || run.detail.startsWith(expectedDetail))
            && run.milliseconds < 60000;
        table.append(
            { fault, phase,
              outcomeName(run.outcome)
                  + (run.detail.isEmpty() ? QString() : QStringLiteral(" (") + run.detail + QLatin1Char(')')),
              correct });
        QVERIFY2(stray.isEmpty(), qPrintable(stray.join(QLatin1Char(' '))));
        QVERIFY2(damaged.isEmpty(), qPrintable(damaged.join(QLatin1Char(' '))));
        QVERIFY2(run.milliseconds < 60000, qPrintable(QString::number(run.milliseconds)));
        if (!knownFault.isEmpty())
            QEXPECT_FAIL("", qPrintable(knownFault), Continue);
        QVERIFY2(run.outcome & expected,
                 qPrintable(outcomeName(run.outcome) + QStringLiteral(": ") + run.detail));
        if (!expectedDetail.isEmpty())
            QVERIFY2(run.detail.startsWith(expectedDetail), qPrintable(run.detail));
        if (run.outcome != Done) {
            // Nothing reported for a run that did not finish.
            QVERIFY(site.ftp.fileNames(QStringLiteral("varnohub/log/versione")).isEmpty());
        }
    }

private slots:
    void cleanup()
    {
        qunsetenv("UPDATE_HUB_DRIVES");
        TTranslator::instance()->loadTranslation(QString());
    }

    void serviceFault_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("knownFault");

        const QString redirection = root + QStringLiteral("get_custom_redirection.asp");
        const QString updater = root + QStringLiteral("praxo/update_software_varno_update/pc/ver_update.txt");
        const QString block = root + QStringLiteral("newblocksite.asp");
        const QString login = root + QStringLiteral("login.asp");
        const QString userData = root + QStringLiteral("update_user_data.asp");
        const QString products = root + QStringLiteral("get_product_names.asp");
        const QString languages
            = root + QStringLiteral("praxo/software_varno/languages/version_languages.txt");
        const QString pcVersion = root + QStringLiteral("praxo/software_varno/pc/version_pc.txt");
        const QString bbadList = root + QStringLiteral("get_filebbad2download.asp");
        const QString downloads = root + QStringLiteral("get_file2download.asp");
        const QString releases = root + QStringLiteral("get_bbad_releases.asp");
        const QString dbVersion = root + QStringLiteral("database_auto/version.txt");
        const QString notifier = root + QStringLiteral("pal_ov_balloon/version.txt");
        const QString pcPackage = root + QStringLiteral("praxo/software_varno/pc/release_0-3.70.zip");
        const QString database = root + QStringLiteral("database_auto/0.zip");
        const QString balloon = root + QStringLiteral("pal_ov_balloon/balloon.zip");
        const QString logUpload = root + QStringLiteral("upload_file.asp");
        const QString dateStamp = root + QStringLiteral("datetime_ov.asp");

        auto row = [](const QString &phase, const QString &prefix, const QString &action, int expected,
                      const QString &detail = QString(), const QString &knownFault = QString()) {
            QTest::newRow(qPrintable(phase + QLatin1Char(' ') + action))
                << phase << (prefix + QStringLiteral("=>") + action) << expected << detail << knownFault;
        };
        // Redirection and updater check: any failure stops the download button.
        row(QStringLiteral("redirection"), redirection, QStringLiteral("status 403"), Message);
        row(QStringLiteral("redirection"), redirection, QStringLiteral("status 500"), Message);
        row(QStringLiteral("redirection"), redirection, QStringLiteral("close 5"), Message);
        row(QStringLiteral("redirection"), redirection, QStringLiteral("stall 5"), Message);
        row(QStringLiteral("redirection"), redirection, QStringLiteral("garbage 40"), Message);
        row(QStringLiteral("updater check"), updater, QStringLiteral("status 404"), Message);
        row(QStringLiteral("updater check"), updater, QStringLiteral("close 2"), Message);
        // Not a number: read as 0, no self-update, the run goes on.
        row(QStringLiteral("updater check"), updater, QStringLiteral("garbage 40"), Done);
        // The maintenance probe only looks for its sentinel.
        row(QStringLiteral("maintenance probe"), block, QStringLiteral("status 500"), Done);
        row(QStringLiteral("login"), login, QStringLiteral("status 403"), Message);
        row(QStringLiteral("login"), login, QStringLiteral("close 3"), Message);
        row(QStringLiteral("login"), login, QStringLiteral("stall 3"), Message);
        row(QStringLiteral("customer data"), userData, QStringLiteral("status 500"), Message);
        row(QStringLiteral("customer data"), userData, QStringLiteral("close 2"), Message);
        // Plan requests whose failure stops the plan.
        row(QStringLiteral("product names"), products, QStringLiteral("status 404"), Message);
        row(QStringLiteral("product names"), products, QStringLiteral("close 4"), Message);
        row(QStringLiteral("language version"), languages, QStringLiteral("status 500"), Message);
        row(QStringLiteral("language version"), languages, QStringLiteral("close 1"), Message);
        row(QStringLiteral("PC version"), pcVersion, QStringLiteral("status 403"), Message);
        row(QStringLiteral("PC version"), pcVersion, QStringLiteral("close 2"), Message);
        row(QStringLiteral("diagnosis downloads"), bbadList, QStringLiteral("status 500"), Message);
        row(QStringLiteral("diagnosis downloads"), bbadList, QStringLiteral("close 10"), Message);
        row(QStringLiteral("download lists"), downloads, QStringLiteral("status 500"), Message);
        row(QStringLiteral("download lists"), downloads, QStringLiteral("stall 10"), Message);
        row(QStringLiteral("database version"), dbVersion, QStringLiteral("status 404"), Message);
        // Release lists only feed the page's texts: a failure leaves them empty.
        row(QStringLiteral("release lists"), releases, QStringLiteral("status 500"), Done);
        // A notifier version that cannot be read as newer is ignored.
        row(QStringLiteral("notifier version"), notifier, QStringLiteral("status 500"), Done);
        // A dropped or stalled package is resumed within the run (retries on).
        row(QStringLiteral("download"), pcPackage, QStringLiteral("close 100 first 1"), Done);
        row(QStringLiteral("download"), pcPackage, QStringLiteral("stall 100 first 1"), Done);
        // A line that drops again and again goes on as long as bytes arrive.
        row(QStringLiteral("download"), pcPackage, QStringLiteral("close 100 first 40"), Done);
        // A busy service or proxy is asked again, keeping what arrived.
        row(QStringLiteral("download"), pcPackage, QStringLiteral("status 503 first 1"), Done);
        row(QStringLiteral("download"), pcPackage, QStringLiteral("status 502 first 1"), Done);
        // With retries off a broken download ends the run at that package,
        // named, with the connection advice.
        const QString pcFailed
            = QStringLiteral("Download del pacchetto varno_pc_release_0-3.70.zip non riuscito. "
                             "Controllare la connessione ad Internet e ripetere "
                             "l'aggiornamento: il download riprenderà da dove si è interrotto.");
        row(QStringLiteral("download"), pcPackage, QStringLiteral("status 404"), Fetch, pcFailed);
        row(QStringLiteral("download"), pcPackage, QStringLiteral("close 100"), Fetch, pcFailed);
        row(QStringLiteral("download"), pcPackage, QStringLiteral("stall 100"), Fetch, pcFailed);
        // Bytes of another size than planned are not taken.
        row(QStringLiteral("download"), pcPackage, QStringLiteral("garbage 3000"), Fetch, pcFailed);
        row(QStringLiteral("download"), database, QStringLiteral("close 30"), Fetch,
            QStringLiteral("Download del pacchetto database_auto_0.zip non riuscito. Controllare"));
        row(QStringLiteral("download"), balloon, QStringLiteral("status 403"), Fetch,
            QStringLiteral("Download del pacchetto balloon_balloon.zip non riuscito. Controllare"));
        // Log archives and the report's date: nothing is shown, the run finishes.
        row(QStringLiteral("log upload"), logUpload, QStringLiteral("status 500"), Done);
        row(QStringLiteral("report date"), dateStamp, QStringLiteral("close 3"), Done);
    }

    void serviceFault()
    {
        QFETCH(QString, phase);
        QFETCH(QString, fault);
        QFETCH(int, expected);
        QFETCH(QString, detail);
        QFETCH(QString, knownFault);
        if (!FtpFixture::available())
            QSKIP("the FTP server module is not installed");
        Site site;
        QVERIFY(site.makeCatalogue());
        if (fault.contains(QLatin1String(" first ")))
            site.retries = "download_retries=1\n";
        // Runs that stop before the installation need no FTP server.
        QVERIFY(site.start({ fault }, expected != Message || !knownFault.isEmpty()));
        const RunResult run = drive(site);
        judge(site, run, fault.mid(fault.indexOf(QLatin1String("=>")) + 2), phase, expected, detail,
              knownFault);
    }

    void throughProxy_data()
    {
        QTest::addColumn<bool>("fromEnvironment"); // http_proxy instead of http_server.ini
        QTest::addColumn<QString>("login"); // what the proxy asks for ("user:password"), empty: nothing
        QTest::addColumn<QStringList>("answers"); // the dialog's answers, then Cancel
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("answerAfterMs"); // the user's time at the dialog
        QTest::newRow("proxy from http_server.ini, report through it")
            << false << QString() << QStringList() << int(Done) << 0;
        QTest::newRow("proxy from http_proxy") << true << QString() << QStringList() << int(Done) << 0;
        QTest::newRow("407, login given in the dialog")
            << false << QStringLiteral("officina:s3greta")
            << QStringList { QStringLiteral("officina:s3greta") } << int(Done) << 0;
        QTest::newRow("407, wrong password twice, then the right one")
            << false << QStringLiteral("officina:s3greta")
            << QStringList { QStringLiteral("officina:x"), QStringLiteral("officina:y"),
                             QStringLiteral("officina:s3greta") }
            << int(Done) << 0;
        QTest::newRow("407, login cancelled")
            << false << QStringLiteral("officina:s3greta") << QStringList() << int(Message) << 0;
        // Longer than the stall time-out (2 s): the user's time is no stall.
        QTest::newRow("407, login given after 3 s")
            << false << QStringLiteral("officina:s3greta")
            << QStringList { QStringLiteral("officina:s3greta") } << int(Done) << 3000;
    }

    void throughProxy()
    {
        QFETCH(bool, fromEnvironment);
        QFETCH(QString, login);
        QFETCH(QStringList, answers);
        QFETCH(int, expected);
        QFETCH(int, answerAfterMs);
        if (!FtpFixture::available())
            QSKIP("the FTP server module is not installed");
        if (ProxyFixture::program().isEmpty())
            QSKIP("tinyproxy is not installed");
        ProxyFixture proxy(login.section(QLatin1Char(':'), 0, 0), login.section(QLatin1Char(':'), 1));
        QVERIFY(proxy.start());
        Site site;
        QVERIFY(site.makeCatalogue());
        const QByteArray address = "http://127.0.0.1:" + QByteArray::number(proxy.port());
        // The system's proxy is never used for a loopback address or
        // "localhost": the service is named by this machine's host name.
        const QString host = QHostInfo::localHostName();
        if (fromEnvironment) {
            if (QOperatingSystemVersion::currentType() == QOperatingSystemVersion::Windows)
                QSKIP("on Windows the system's proxy is in its Internet settings, not in http_proxy");
            if (!QHostInfo::fromName(host).addresses().contains(QHostAddress(QHostAddress::LocalHost)))
                QSKIP("the host name does not name 127.0.0.1");
            qputenv("http_proxy", address);
            qunsetenv("no_proxy");
            qunsetenv("NO_PROXY");
        } else {
            site.extraIni = "proxy_server=127.0.0.1\nproxy_port=" + QByteArray::number(proxy.port())
                + "\nuse_proxy_parameters=1\n";
        }
        QVERIFY(site.start({}, expected == Done));
        if (fromEnvironment) {
            const QByteArray ini = site.file(QStringLiteral("http_server.ini"));
            const QByteArray named = QByteArray(ini).replace("address=127.0.0.1", "address=" + host.toUtf8());
            QVERIFY(site.ws.writeFile(QStringLiteral("http_server.ini"), named));
            site.settingsBefore.insert(QStringLiteral("http_server.ini"), named);
        }
        ProxyLoginAnswerer loginAnswerer;
        loginAnswerer.logins = answers;
        loginAnswerer.answerAfterMs = answerAfterMs;
        const RunResult run = drive(site);
        qunsetenv("http_proxy");
        judge(site, run, QString::fromLatin1(QTest::currentDataTag()), QStringLiteral("proxy"), expected,
              QString());
        // The dialog came for each wrong login and once more for Cancel.
        QCOMPARE(loginAnswerer.shown, login.isEmpty() ? 0 : int(answers.size()) + (expected == Done ? 0 : 1));
        const QString package = QStringLiteral("/files/varnohub/praxo/software_varno/pc/release_0-3.70.zip");
        const QStringList forwarded = proxy.forwarded();
        if (expected == Done) {
            // The packages went through the proxy, and the service sent them.
            QVERIFY2(forwarded.contains(QStringLiteral("GET http://")
                                        + (fromEnvironment ? host : QStringLiteral("127.0.0.1"))
                                        + QLatin1Char(':') + QString::number(site.service->port()) + package),
                     qPrintable(forwarded.join(QLatin1Char('\n'))));
            QVERIFY(site.service->requestLines().contains(QStringLiteral("GET ") + package
                                                          + QStringLiteral(" 200")));
            if (!fromEnvironment) {
                // The version report went through the proxy's tunnel to the FTP server.
                QVERIFY(forwarded.contains(QStringLiteral("CONNECT 127.0.0.1:")
                                           + QString::number(site.ftp.port())));
                QVERIFY(!site.ftp.fileNames(QStringLiteral("varnohub/log/versione")).isEmpty());
            }
        } else {
            // Nothing got past the proxy.
            QVERIFY(site.service->requestLines().isEmpty());
        }
    }

    void reportUploadFault_data()
    {
        QTest::addColumn<bool>("serverUp");
        QTest::newRow("FTP server stopped") << false;
        QTest::newRow("FTP folder missing") << true;
    }

    void reportUploadFault()
    {
        QFETCH(bool, serverUp);
        if (!FtpFixture::available())
            QSKIP("the FTP server module is not installed");
        Site site;
        QVERIFY(site.makeCatalogue());
        QVERIFY(site.start({}, true, false));
        if (!serverUp)
            site.ftp.stop();
        const RunResult run = drive(site);
        // The report is not the user's concern: the run finishes. The rows
        // that did not leave stay for the next report.
        judge(site, run, QString::fromLatin1(QTest::currentDataTag()), QStringLiteral("report upload"), Done,
              QString());
        QVERIFY(site.exists(QStringLiteral("plugins/log/raccolta_dati_versioni.db")));
        QVERIFY(site.file(QStringLiteral("main.exe")).contains("EXEC_VERSION=3.70"));
        QVERIFY(QDir(site.ftp.root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    }

    void fullProgramFolderWhileDownloading_data()
    {
        QTest::addColumn<QByteArray>("size");
        QTest::addColumn<bool>("fillLater"); // the disk fills up after the plan
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("detail");
        // The room is checked before the first download: nothing is fetched.
        QTest::newRow("too small from the start")
            << QByteArray("size=4m") << false << int(Other)
            << QStringLiteral("Spazio su disco insufficiente per scaricare l'aggiornamento. "
                              "Liberare spazio e ripetere l'aggiornamento.");
        QTest::newRow("filled during the download")
            << QByteArray("size=16m") << true << int(Fetch)
            << QStringLiteral("Download del pacchetto varno_pc_release_0-3.70.zip non riuscito. "
                              "Spazio su disco insufficiente per scaricare l'aggiornamento.");
    }

    void fullProgramFolderWhileDownloading()
    {
        QFETCH(QByteArray, size);
        QFETCH(bool, fillLater);
        QFETCH(int, expected);
        QFETCH(QString, detail);
        if (!FtpFixture::available())
            QSKIP("the FTP server module is not installed");
        if (!TestSystem::isSuperUser())
            QSKIP("a small disk needs a tmpfs mount (root only)");
        Site site;
        QVERIFY(site.makeCatalogue());
        // A PC package larger than the whole program folder.
        QVERIFY(writeRandomPackage(
            site.catalogue.filePath(QStringLiteral("praxo/software_varno/pc/release_0-3.70.zip")),
            QStringLiteral("main.exe"), 6 << 20));
        TmpfsMount disk(site.ws.path(), size.constData());
        if (!disk.mounted)
            QSKIP("tmpfs cannot be mounted here");
        QDir::setCurrent(site.ws.path()); // the mount hides the folder the process stood in
        // The package's answer waits, so that the disk fills up while its
        // part file stands ready.
        const QString pcPackage = root + QStringLiteral("praxo/software_varno/pc/release_0-3.70.zip");
        QVERIFY(site.start(fillLater ? QStringList { pcPackage + QStringLiteral("=>latency 1500") }
                                     : QStringList()));
        QTimer filling;
        QObject::connect(&filling, &QTimer::timeout, [&]() {
            const QDir cache(site.ws.filePath(QStringLiteral("work/.update_hub/downloads")));
            if (cache.entryList({ QStringLiteral("varno_pc_release_0-3.70.zip*.part") }, QDir::Files)
                    .isEmpty())
                return;
            filling.stop();
            // All but 1 MiB of the disk taken by something else.
            QFile filler(site.ws.filePath(QStringLiteral("filler.bin")));
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(64 * 1024, 'f');
            while (Platform::freeSpace(site.ws.path()) > (1 << 20) && filler.write(block) == block.size())
                filler.flush();
        });
        const RunResult run = drive(site, [&]() {
            if (fillLater)
                filling.start(5);
        });
        QDir::setCurrent(QFileInfo(site.ws.path()).absolutePath());
        judge(site, run, QString::fromLatin1(QTest::currentDataTag()), QStringLiteral("download"), expected,
              detail);
        QVERIFY(!site.exists(QStringLiteral("work/varno_pc_release_0-3.70.zip")));
        QVERIFY(!site.exists(QStringLiteral("work/varno_pc_release_0-3.70.zip.part")));
    }

    void cardFault_data()
    {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<int>("readOnly"); // 0 never, 1 from the start, 2 after the plan
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("detail");
        // Few inodes: the card has room by size (the space check passes) but
        // runs out of entries while extracting. The message names the cause.
        QTest::newRow("card full") << QByteArray("size=8m,nr_inodes=6") << 0 << int(Other)
                                   << QStringLiteral("Spazio su memory card insufficiente per contenere l'aggiornamento.");
        QTest::newRow("card read-only while extracting")
            << QByteArray("size=8m") << 2 << int(Other) << QStringLiteral("SD Card protetta da scrittura.");
        // A card that is read-only from the start is turned away when the card is looked for.
        QTest::newRow("card read-only")
            << QByteArray("size=8m") << 1 << int(Other) << QStringLiteral("SD Card protetta da scrittura.");
    }

    void cardFault()
    {
        QFETCH(QByteArray, options);
        QFETCH(int, readOnly);
        QFETCH(int, expected);
        QFETCH(QString, detail);
        if (!FtpFixture::available())
            QSKIP("the FTP server module is not installed");
        if (!TestSystem::isSuperUser())
            QSKIP("a small card needs a tmpfs mount (root only)");
        Site site;
        QVERIFY(site.makeCatalogue());
        QVERIFY(site.ws.makeDir(QStringLiteral("card")));
        TmpfsMount card(site.ws.filePath(QStringLiteral("card")), options.constData());
        if (!card.mounted)
            QSKIP("tmpfs cannot be mounted here");
        QVERIFY(site.start({}));
        if (readOnly == 1)
            QVERIFY(card.makeReadOnly());
        bool remounted = false;
        const RunResult run = drive(site, [&]() { remounted = readOnly == 2 && card.makeReadOnly(); });
        QCOMPARE(remounted, readOnly == 2);
        judge(site, run, QString::fromLatin1(QTest::currentDataTag()),
              readOnly == 1 ? QStringLiteral("card detection") : QStringLiteral("extraction to the card"),
              expected, detail);
        QVERIFY(site.file(QStringLiteral("card/varno/main")).contains("EXEC_VERSION=1.00"));
    }
    void cleanupTestCase()
    {
        int correct = 0;
        qInfo("%-24s %-22s %s", "fault", "phase", "outcome");
        for (const TableRow &row : std::as_const(table)) {
            qInfo("%-24s %-22s %s%s", qPrintable(row.fault), qPrintable(row.phase), qPrintable(row.outcome),
                  row.correct ? "" : "  <- NOT AS EXPECTED");
            correct += row.correct ? 1 : 0;
        }
        qInfo("faults tried: %d, runs ended correctly: %d", int(table.size()), correct);
    }
};

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
