// Takes the pictures of the README: runs the real main window through a whole
// online update in a demo installation (current folder, HOME and
// UPDATE_HUB_DRIVES set up by scripts/screenshots) and saves the start page,
// each step page and the progress window as PNG files.
//   uh_screenshots OUTDIR
// Messages the run shows are answered with Ok. A step that the run does not
// reach is still pictured (through setStep), and the program then ends with 1
// so the caller knows that page shows no real data.
#include "app/mainwindow.h"
#include "support/modalanswerer.h"
#include "ui/tprogressbox.h"

#include <QApplication>
#include <QDir>
#include <QStackedWidget>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>

namespace {

QTextStream out(stdout);

bool save(QWidget *widget, const QString &path)
{
    QApplication::processEvents();
    const bool saved = widget->grab().save(path, "PNG", 9);
    out << (saved ? "saved " : "FAILED to save ") << path << '\n';
    out.flush();
    return saved;
}

int currentStep(MainWindow &window)
{
    auto *pages = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidgetAgg"));
    auto *outer = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    return outer && outer->currentIndex() == 1 && pages ? pages->currentIndex() : -1;
}

// Presses a button as the user would; true when the window then shows step.
bool press(MainWindow &window, const char *button, int step)
{
    auto *tool = window.findChild<QToolButton *>(QLatin1String(button));
    if (!tool || !tool->isVisible() || !tool->isEnabled()) {
        out << button << " cannot be pressed\n";
        return false;
    }
    QTest::mouseClick(tool, Qt::LeftButton);
    QApplication::processEvents();
    if (currentStep(window) != step) {
        out << button << ": the window did not reach step " << step + 1 << '\n';
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: uh_screenshots OUTDIR\n";
        return 2;
    }
    const QDir outDir(QString::fromLocal8Bit(argv[1]));
    if (!outDir.mkpath(QStringLiteral(".")))
        return 2;

    ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
    bool real = true;
    bool saved = true;
    {
        MainWindow window;
        window.show();
        QTest::qWait(50);
        saved &= save(&window, outDir.filePath(QStringLiteral("start.png")));

        // The progress window, pictured once while the packages download.
        bool progressTaken = false;
        QTimer progressWatch;
        progressWatch.setInterval(20);
        QObject::connect(&progressWatch, &QTimer::timeout, &app, [&]() {
            QWidget *progress = window.progressWindow();
            if (progressTaken || !progress || !progress->isVisible())
                return;
            progressTaken = true;
            saved &= save(progress, outDir.filePath(QStringLiteral("progress.png")));
        });
        progressWatch.start();

        struct Step
        {
            const char *button; // pressed to reach the page
            const char *file;
        };
        const Step steps[] = {
            {"tbDownload", nullptr}, // account-code page, empty
            {"tbOkPw", "step1-account.png"}, // the same page with the customer data
            {"tbOkInfo", "step2-languages.png"},
            {"tbOkSelezionaLingua", "step3-available-updates.png"},
            {"tbOkAggiornamentiDisponibili", "step4-updates-done.png"},
        };
        const int stepOf[] = {0, 0, 1, 2, 3};
        for (int i = 0; i < 5; ++i) {
            if (real)
                real = press(window, steps[i].button, stepOf[i]);
            if (!steps[i].file)
                continue;
            if (!real) {
                window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->setCurrentIndex(1);
                window.setStep(stepOf[i]);
                out << "step " << stepOf[i] + 1 << " pictured without the data of a run\n";
            }
            saved &= save(&window, outDir.filePath(QLatin1String(steps[i].file)));
        }
        if (!progressTaken)
            out << "the progress window did not appear\n";
        for (qsizetype i = 0; i < answerer.titles().size(); ++i)
            out << "message answered: " << answerer.titles().at(i) << ": " << answerer.messages().at(i) << '\n';
    }
    out.flush();
    return real && saved ? 0 : 1;
}
