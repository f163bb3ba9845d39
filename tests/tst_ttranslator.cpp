// The run-time translator with the real English translation built from the project's .ts.
#include "language/standardtexts.h"
#include "language/ttranslator.h"
#include "support/workspace.h"

#include <QFile>
#include <QTranslator>
#include <QtTest>

namespace {

const QString englishQm = QStringLiteral(UPDATE_HUB_QM_DIR "/update_hub_en.qm");

QTranslator *installed()
{
    return TTranslator::instance()->findChild<QTranslator *>(QStringLiteral("translator"));
}

} // namespace

class TestTranslator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void translatesToEnglish_data();
    void translatesToEnglish();
    void everyStandardTextHasEnglish();
    void loadsRelativePathLikeStartUp();
    void missingPathRemovesTranslation();
    void folderOrBrokenFileTranslatesNothing_data();
    void folderOrBrokenFileTranslatesNothing();
};

void TestTranslator::init()
{
    QVERIFY2(QFile::exists(englishQm), qPrintable(englishQm));
    TTranslator::instance()->loadTranslation(englishQm);
}

void TestTranslator::translatesToEnglish_data()
{
    QTest::addColumn<QString>("italian");
    QTest::addColumn<QString>("english");

    QTest::newRow("accented") << QString::fromUtf8("Il server è in manutenzione per nuovi aggiornamenti.")
                              << "The server is under maintenance for new updates.";
    QTest::newRow("accented caption") << QString::fromUtf8("Velocità:") << "Speed:";
    QTest::newRow("apostrophe") << "E' presente un aggiornamento del software."
                                << "A software update is available.";
    QTest::newRow("blanks at both ends") << " estrazione archivio aggiornamenti in corso... "
                                         << " extracting update archive... ";
    QTest::newRow("title") << "Attenzione"
                           << "Warning";
    QTest::newRow("unknown text stays")
        << QString::fromUtf8("Testo sconosciuto è") << QString::fromUtf8("Testo sconosciuto è");
    QTest::newRow("empty") << ""
                           << "";
}

void TestTranslator::translatesToEnglish()
{
    QFETCH(QString, italian);
    QFETCH(QString, english);
    QCOMPARE(TTranslator::instance()->translate(italian), english);
}

void TestTranslator::everyStandardTextHasEnglish()
{
    QTranslator english;
    QVERIFY(english.load(englishQm));
    QSet<QString> seen;
    for (const char *text : Texts::all) {
        QVERIFY2(!english.translate("TTranslator", text).isEmpty(), text);
        QVERIFY2(!seen.contains(QString::fromUtf8(text)), text);
        seen.insert(QString::fromUtf8(text));
    }
    QCOMPARE(TTranslator::instance()->translate(Texts::Speed), QStringLiteral("Speed:"));
}

void TestTranslator::loadsRelativePathLikeStartUp()
{
    TestWorkspace ws;
    QVERIFY(QFile::copy(englishQm, ws.filePath(QStringLiteral("english.qm"))));
    TTranslator::instance()->loadTranslation(QStringLiteral("./english.qm"));
    QVERIFY(installed());
    QCOMPARE(TTranslator::instance()->translate(Texts::Attention), QStringLiteral("Warning"));
    // Only one translator is ever installed: loading again replaces it.
    TTranslator::instance()->loadTranslation(QStringLiteral("./english.qm"));
    QCOMPARE(TTranslator::instance()->findChildren<QTranslator *>().size(), 1);
}

void TestTranslator::missingPathRemovesTranslation()
{
    TestWorkspace ws;
    TTranslator::instance()->loadTranslation(QStringLiteral("./missing.qm"));
    QVERIFY(!installed());
    QCOMPARE(TTranslator::instance()->translate(Texts::Attention), QStringLiteral("Attenzione"));
}

void TestTranslator::folderOrBrokenFileTranslatesNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("content");
    // An empty "file" entry in language.ini gives the path "./", a folder.
    QTest::newRow("folder") << "./" << QByteArray();
    QTest::newRow("broken file") << "./broken.qm" << QByteArray("\x3c\xb8\x64\x18garbage", 11);
    QTest::newRow("empty file") << "./empty.qm" << QByteArray("");
}

void TestTranslator::folderOrBrokenFileTranslatesNothing()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, content);
    TestWorkspace ws;
    if (path != QLatin1String("./"))
        QVERIFY(ws.writeFile(path.mid(2), content));
    TTranslator::instance()->loadTranslation(path);
    QVERIFY(installed());
    QVERIFY(installed()->isEmpty());
    QCOMPARE(TTranslator::instance()->translate(Texts::Attention), QStringLiteral("Attenzione"));
}

QTEST_GUILESS_MAIN(TestTranslator)
#include "tst_ttranslator.moc"
