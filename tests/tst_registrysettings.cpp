// The one registry handle: which keys instance() hands out, and that its values
// reach the store (user settings off Windows) when it is released.
#include "settings/tregistrysettings.h"
#include "support/workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSettings>
#include <QtTest>

#include <memory>

class TestRegistrySettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void instanceRules();
    void keyNamesFromTheService_data();
    void keyNamesFromTheService();
    void publishesValuesOnRelease();
    void readsValuesWithDefaults();

private:
    // QSettings fixes the user folder at its first use, so one private home serves every test.
    std::unique_ptr<TestWorkspace> ws;
};

namespace {

QVariant storedValue(const QString &key, const QString &name)
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Orvane"), key);
    return store.value(name);
}

} // namespace

void TestRegistrySettings::initTestCase()
{
    ws = std::make_unique<TestWorkspace>();
    QVERIFY(ws->isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       ws->home() + QStringLiteral("/.config"));
}

void TestRegistrySettings::cleanup()
{
    TRegistrySettings::release();
}

void TestRegistrySettings::instanceRules()
{
    QVERIFY(!TRegistrySettings::instance(QString()));

    TRegistrySettings *a = TRegistrySettings::instance(QStringLiteral("A"));
    QVERIFY(a);
    QCOMPARE(a->productKey(), QStringLiteral("A"));
    QCOMPARE(a->keyPath(), QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Orvane\\A"));
    QVERIFY(!TRegistrySettings::instance(QStringLiteral("B")));
    QCOMPARE(TRegistrySettings::instance(QStringLiteral("A")), a);
    QCOMPARE(TRegistrySettings::instance(QString()), a);

    TRegistrySettings::release();
    TRegistrySettings::release(); // a second release is harmless
    TRegistrySettings *b = TRegistrySettings::instance(QStringLiteral("B"));
    QVERIFY(b);
    QCOMPARE(b->productKey(), QStringLiteral("B"));
}

void TestRegistrySettings::keyNamesFromTheService_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("opened");
    QTest::newRow("folder name") << "praxo" << true;
    QTest::newRow("dots inside a name") << "soft.v2" << true;
    QTest::newRow("parent") << ".." << false;
    QTest::newRow("climbing path") << "a/../../b" << false;
    QTest::newRow("backslash") << "x\\y" << false;
    QTest::newRow("slash") << "x/y" << false;
    QTest::newRow("line end") << "x\ny" << false;
    QTest::newRow("NUL") << QStringLiteral("x") + QChar(0) + QStringLiteral("y") << false;
}

void TestRegistrySettings::keyNamesFromTheService()
{
    QFETCH(QString, name);
    QFETCH(bool, opened);
    // Every file of the test's folders (program and home).
    const auto files = [this]() {
        QDirIterator it(QFileInfo(ws->path()).absolutePath(), QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        QStringList list;
        while (it.hasNext())
            list << it.next();
        list.sort();
        return list;
    };
    const QStringList before = files();
    TRegistrySettings *settings = TRegistrySettings::instance(name);
    QCOMPARE(settings != nullptr, opened);
    if (settings)
        settings->setValue(QStringLiteral("Language"), QStringLiteral("ita"));
    TRegistrySettings::release();
    // A refused name writes no settings file anywhere.
    if (!opened)
        QCOMPARE(files(), before);
    else
        QCOMPARE(storedValue(name, QStringLiteral("Language")).toString(), QStringLiteral("ita"));
}

void TestRegistrySettings::publishesValuesOnRelease()
{
    TRegistrySettings *settings = TRegistrySettings::instance(QStringLiteral("adfiles"));
    QVERIFY(settings);
    settings->setLanguage(QStringLiteral("ita"));
    settings->setDefaultLanguage(QStringLiteral("eng"));
    settings->setValue(QStringLiteral("Versione"), QStringLiteral("2.10"));
    TRegistrySettings::release();

    const QString key = QStringLiteral("adfiles");
    // The program's folder with the system's own separators (backslashes on Windows).
    const QString installDir = storedValue(key, QStringLiteral("InstallDir")).toString();
    QCOMPARE(QDir::fromNativeSeparators(installDir), QCoreApplication::applicationDirPath());
    QVERIFY2(!installDir.contains(QDir::separator() == QLatin1Char('\\') ? QLatin1Char('/') : QLatin1Char('\\')),
             qPrintable(installDir));
    QCOMPARE(storedValue(key, QStringLiteral("Language")).toString(), QStringLiteral("ita"));
    QCOMPARE(storedValue(key, QStringLiteral("DefaultLanguage")).toString(), QStringLiteral("eng"));
    QCOMPARE(storedValue(key, QStringLiteral("Versione")).toString(), QStringLiteral("2.10"));
    // Nothing leaks into another product's key.
    QVERIFY(!storedValue(QStringLiteral("other"), QStringLiteral("Language")).isValid());
}

void TestRegistrySettings::readsValuesWithDefaults()
{
    {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Orvane"),
                        QStringLiteral("NotificaAggiornamenti"));
        store.setValue(QStringLiteral("Versione"), QStringLiteral("1.20"));
    }
    TRegistrySettings *settings = TRegistrySettings::instance(QStringLiteral("NotificaAggiornamenti"));
    QVERIFY(settings);
    QCOMPARE(settings->value(QStringLiteral("Versione"), QStringLiteral("0.00")), QStringLiteral("1.20"));
    QCOMPARE(settings->value(QStringLiteral("Missing"), QStringLiteral("0.00")), QStringLiteral("0.00"));
}

QTEST_GUILESS_MAIN(TestRegistrySettings)
#include "tst_registrysettings.moc"
