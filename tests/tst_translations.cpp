// The English translation: every text the program can show must have one.
// Run-time texts are collected by lupdate from their markers, form texts from
// the forms; texts written straight into the window code are found by a scan
// of the sources, so a message added without its marker is caught as well.
// The forms live in ui/; the relative includes let this test's own uic run find them.
#include "../ui/ui_mainwindow.h"
#include "../ui/ui_tlinguabox.h"
#include "../ui/ui_tmessagebox.h"
#include "../ui/ui_tprogressbox.h"
#include "support/testsystem.h"

#include <QAbstractButton>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QMainWindow>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>


namespace {

const QString sourceDir = QStringLiteral(UPDATE_HUB_SOURCE_DIR);
const QString tsPath = sourceDir + QStringLiteral("/language/translations/update_hub_en.ts");
const QString qmPath = QStringLiteral(UPDATE_HUB_QM_DIR "/update_hub_en.qm");

struct TsMessage
{
    QString context;
    QString source;
    QString translation;
    QString type; // "unfinished", "vanished", "obsolete" or empty
};

QList<TsMessage> readTs(const QString &path)
{
    QList<TsMessage> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    QXmlStreamReader xml(&file);
    QString context;
    TsMessage current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            current = TsMessage{context, {}, {}, {}};
        } else if (xml.name() == QLatin1String("source")) {
            current.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            current.type = xml.attributes().value(QLatin1String("type")).toString();
            current.translation = xml.readElementText();
            messages << current;
        }
    }
    return xml.hasError() ? QList<TsMessage>() : messages;
}

QString lupdateProgram()
{
    const QString beside = QLibraryInfo::path(QLibraryInfo::BinariesPath) + QStringLiteral("/lupdate");
    if (QFileInfo(beside).isExecutable())
        return beside;
    // A Windows build run under Wine: the Linux tool of the machine, through drive Z:.
    const QString host = QStringLiteral(UPDATE_HUB_HOST_ROOT "/usr/lib/qt6/bin/lupdate");
    if (!QStringLiteral(UPDATE_HUB_HOST_ROOT).isEmpty() && QFileInfo::exists(host))
        return host;
    return QStandardPaths::findExecutable(QStringLiteral("lupdate"));
}

// The string literals of a C++ source that reach the screen through the
// run-time translation: text("..."), tx("...") (adjacent literals joined) and
// translate(QStringLiteral("...")) / translate(QString::fromUtf8("...")).
QStringList shownLiterals(const QString &code)
{
    static const QRegularExpression call(
        QStringLiteral("(?:\\b(?:text|tx)\\s*\\(|\\btranslate\\s*\\(\\s*(?:QStringLiteral|QString::fromUtf8)\\s*\\()\\s*((?:\"(?:[^\"\\\\\\n]|\\\\.)*\"\\s*)+)\\)"));
    static const QRegularExpression literal(QStringLiteral("\"((?:[^\"\\\\\\n]|\\\\.)*)\""));
    QStringList texts;
    for (auto it = call.globalMatch(code); it.hasNext();) {
        const QString literals = it.next().captured(1);
        QString joined;
        for (auto part = literal.globalMatch(literals); part.hasNext();)
            joined += part.next().captured(1);
        joined.replace(QStringLiteral("\\\""), QStringLiteral("\""));
        joined.replace(QStringLiteral("\\'"), QStringLiteral("'"));
        joined.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
        texts << joined;
    }
    return texts;
}

// Builds a generated form on a plain widget and returns the texts it shows,
// by object name (the top-level widget's window title under its own name).
template<typename Form, typename Widget>
QHash<QString, QString> formTexts()
{
    Widget widget;
    Form form;
    form.setupUi(&widget);
    QHash<QString, QString> texts;
    texts.insert(widget.objectName(), widget.windowTitle());
    for (QLabel *label : widget.template findChildren<QLabel *>())
        texts.insert(label->objectName(), label->text());
    for (QAbstractButton *button : widget.template findChildren<QAbstractButton *>())
        texts.insert(button->objectName(), button->text());
    return texts;
}

} // namespace

class TranslationsTest : public QObject
{
    Q_OBJECT

private slots:
    // Collecting the texts again finds nothing that is new or untranslated.
    void lupdateFindsNothingUnfinished()
    {
        const QString lupdate = lupdateProgram();
        QVERIFY2(!lupdate.isEmpty(), "lupdate not found (package qt6-l10n-tools)");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString copy = dir.filePath(QStringLiteral("update_hub_en.ts"));
        QVERIFY(QFile::copy(tsPath, copy));

        // The same collection as the update_translations target.
        QByteArray output;
        const int status = TestSystem::runHostProgram(
            lupdate,
            { QStringLiteral("language"), QStringLiteral("ui"), QStringLiteral("app"), QStringLiteral("-extensions"),
              QStringLiteral("h,cpp,ui"), QStringLiteral("-locations"), QStringLiteral("none"), QStringLiteral("-ts"),
              copy },
            sourceDir, 120000, &output);
        QVERIFY2(status == 0, output.constData());

        const QList<TsMessage> messages = readTs(copy);
        QStringList missing;
        int live = 0;
        for (const TsMessage &m : messages) {
            if (m.type == QLatin1String("vanished") || m.type == QLatin1String("obsolete"))
                continue;
            ++live;
            if (m.type == QLatin1String("unfinished") || m.translation.trimmed().isEmpty())
                missing << m.context + QStringLiteral(": ") + m.source;
        }
        QVERIFY2(missing.isEmpty(),
                 qPrintable(QStringLiteral("untranslated (run the update_translations target and translate): ")
                            + missing.join(QStringLiteral(" / "))));
        // Every form has its context, besides the run-time texts.
        QSet<QString> contexts;
        for (const TsMessage &m : messages)
            contexts << m.context;
        for (const char *name : {"TTranslator", "MainWindow", "TMessagebox", "TProgressBox", "TLinguaBox"})
            QVERIFY2(contexts.contains(QLatin1String(name)), name);
        QVERIFY(live > 50);
    }

    // Texts written straight into the window and dialog code, which lupdate
    // does not see, must have a run-time translation in the built file.
    void textsInTheCodeAreTranslated()
    {
        QTranslator translator;
        QVERIFY2(translator.load(qmPath), qPrintable(qmPath));

        QStringList scanned;
        QStringList missing;
        for (const QString &folder : {QStringLiteral("app"), QStringLiteral("ui")}) {
            const QDir dir(sourceDir + QLatin1Char('/') + folder);
            for (const QString &name : dir.entryList({QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files)) {
                QFile file(dir.filePath(name));
                QVERIFY(file.open(QIODevice::ReadOnly));
                const QString code = QString::fromUtf8(file.readAll());
                for (const QString &literal : shownLiterals(code)) {
                    // showMessage() translates each "|"-separated part on its own.
                    for (const QString &part : literal.split(QLatin1Char('|'))) {
                        if (part.trimmed().isEmpty())
                            continue;
                        scanned << part;
                        if (translator.translate("TTranslator", part.toUtf8().constData()).isEmpty())
                            missing << folder + QLatin1Char('/') + name + QStringLiteral(": \"") + part
                                           + QLatin1Char('"');
                    }
                }
            }
        }
        QVERIFY2(missing.isEmpty(),
                 qPrintable(QStringLiteral("no English text (mark it in language/standardtexts.h, run the update_translations target and translate): ")
                            + missing.join(QStringLiteral(", "))));
        // The scan does see the window's messages.
        QVERIFY(scanned.contains(QStringLiteral("Controllare la connessione ad Internet.")));
        QVERIFY(scanned.contains(QString::fromUtf8("Velocità:")));
    }

    void scanOfTheCode_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("adjacent literals joined")
            << QString::fromUtf8("showMessage(text(\"Nessun lettore \"\n"
                                 "        \"trovato.|Riprovare.\"), QStringLiteral(\"Ok\"));")
            << QStringList{QStringLiteral("Nessun lettore trovato.|Riprovare.")};
        QTest::newRow("escapes and several calls")
            << QString::fromUtf8("a(tx(\"Di \\\"lui\\\"\")); b(translate(QStringLiteral(\"C'è\")));")
            << QStringList{QStringLiteral("Di \"lui\""), QStringLiteral("C'è")};
        QTest::newRow("other calls ignored")
            << QString::fromUtf8("label->setText(QStringLiteral(\"x\")); ui->text(); context(\"y\");") << QStringList{};
    }

    void scanOfTheCode()
    {
        QFETCH(QString, code);
        QFETCH(QStringList, texts);
        QCOMPARE(shownLiterals(code), texts);
    }

    // The forms find their translations under their own contexts: built with
    // the English file installed, every text that has a different English
    // wording shows it.
    void formsShowTheirTranslation_data()
    {
        QTest::addColumn<QString>("context");
        QTest::newRow("main window") << QStringLiteral("MainWindow");
        QTest::newRow("message box") << QStringLiteral("TMessagebox");
        QTest::newRow("progress box") << QStringLiteral("TProgressBox");
        QTest::newRow("language box") << QStringLiteral("TLinguaBox");
    }

    void formsShowTheirTranslation()
    {
        QFETCH(QString, context);
        const auto build = [&context]() {
            if (context == QLatin1String("MainWindow"))
                return formTexts<Ui::MainWindow, QMainWindow>();
            if (context == QLatin1String("TMessagebox"))
                return formTexts<Ui::TMessagebox, QDialog>();
            if (context == QLatin1String("TProgressBox"))
                return formTexts<Ui::TProgressBox, QDialog>();
            return formTexts<Ui::TLinguaBox, QDialog>();
        };

        QHash<QString, QString> english;
        for (const TsMessage &m : readTs(tsPath)) {
            if (m.context == context && m.type.isEmpty())
                english.insert(m.source, m.translation);
        }
        QVERIFY(!english.isEmpty());

        const QHash<QString, QString> built = build();
        QTranslator translator;
        QVERIFY(translator.load(qmPath));
        QVERIFY(QCoreApplication::installTranslator(&translator));
        const QHash<QString, QString> translated = build();
        QCoreApplication::removeTranslator(&translator);

        int changed = 0;
        for (auto it = built.cbegin(); it != built.cend(); ++it) {
            if (it.value().isEmpty())
                continue;
            QVERIFY2(english.contains(it.value()), qPrintable(it.key() + QStringLiteral(": ") + it.value()));
            QCOMPARE(translated.value(it.key()), english.value(it.value()));
            if (english.value(it.value()) != it.value())
                ++changed;
        }
        QVERIFY(changed > 0);
    }
};

QTEST_MAIN(TranslationsTest)
#include "tst_translations.moc"
