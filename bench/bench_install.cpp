// Drives a whole online update of a prepared installation through the real
// main window (offscreen) and measures its installation step:
//   bench_install REPORT_FILE
// Run from the installation folder with HOME and UPDATE_HUB_DRIVES set as for
// the updater. The plan steps (download button to the available-updates page)
// run first and are not timed; the time runs from the click on
// tbOkAggiornamentiDisponibili until the updates-done page shows. A timer probe
// firing every 5 ms records the longest stretch during which the event loop
// did not run. Prints "seconds=S gap_ms=G" on standard output; REPORT_FILE
// gets one "package SERVICE_PATH LOCAL_NAME KIND" line per download (what the
// reference has to fetch and extract), and standard error the longest gaps and
// the phases of the run, for finding out where the time goes.
//   bench_install --cancel
// presses tbCancel once the extraction has begun (the progress window shows
// extraction progress) and prints "cancel_ms=M": the time from the press to
// the progress window closed, the staged files undone by then.
#include "update/downloadnames.h"
#include "app/mainwindow.h"
#include "settings/tinifiles.h"
#include "ui/tprogressbox.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLoggingCategory>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

int page(MainWindow &w)
{
    return w.findChild<QStackedWidget *>(QStringLiteral("stackedWidgetAgg"))->currentIndex();
}

bool click(MainWindow &w, const char *button, int expectedPage)
{
    auto *tool = w.findChild<QToolButton *>(QLatin1String(button));
    if (!tool || !tool->isEnabled()) {
        std::fprintf(stderr, "bench_install: %s cannot be pressed\n", button);
        return false;
    }
    tool->click();
    if (page(w) != expectedPage) {
        std::fprintf(stderr, "bench_install: after %s the page is step %d, not %d\n", button, page(w) + 1,
                     expectedPage + 1);
        return false;
    }
    return true;
}

QString labelText(QWidget *parent, const char *name)
{
    auto *label = parent->findChild<QLabel *>(QLatin1String(name));
    return label ? label->text().simplified() : QString();
}

/// What the window shows at the moment: the progress box with its message and
/// bars, a wait or message box, or nothing in front of the page.
QString phaseOf(MainWindow &w, bool withBars)
{
    auto *box = w.findChild<TProgressBox *>();
    if (box && box->isVisible()) {
        QString text = QStringLiteral("progress \"%1\"").arg(labelText(box, "lblMessage"));
        if (withBars) {
            const auto bars = box->findChildren<QProgressBar *>();
            for (QProgressBar *bar : bars)
                text += QStringLiteral(" %1=%2/%3").arg(bar->objectName()).arg(bar->value()).arg(bar->maximum());
        }
        return text;
    }
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        if (qobject_cast<QDialog *>(widget) && widget->isVisible())
            return QStringLiteral("dialog \"%1\"").arg(labelText(widget, "lblMessage"));
    }
    return QStringLiteral("page %1").arg(page(w) + 1);
}

/// Answers any message box with its Ok button (a successful run shows none;
/// the texts are printed so that a failing run explains itself).
class Answerer : public QObject
{
public:
    Answerer()
    {
        connect(&m_timer, &QTimer::timeout, this, &Answerer::poll);
        m_timer.start(20);
    }
    int answered = 0;

private:
    void poll()
    {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || qobject_cast<TProgressBox *>(dialog))
            return;
        auto *ok = dialog->findChild<QToolButton *>(QStringLiteral("tbOk"));
        if (!ok || !ok->isVisibleTo(dialog))
            return;
        std::fprintf(stderr, "bench_install: message: %s: %s\n", qPrintable(labelText(dialog, "lblTitle")),
                     qPrintable(labelText(dialog, "lblMessage")));
        ++answered;
        ok->click();
    }
    QTimer m_timer;
};

struct Gap
{
    qint64 startNs;
    qint64 lengthNs;
    QString before;
    QString after;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("update_hub.*.debug=false"));
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "usage: bench_install REPORT_FILE | --cancel\n");
        return 2;
    }
    const bool cancel = app.arguments().at(1) == QLatin1String("--cancel");
    Answerer answerer;
    MainWindow w;
    w.show();
    if (!click(w, "tbDownload", 0) || !click(w, "tbOkPw", 0) || !click(w, "tbOkInfo", 1)
        || !click(w, "tbOkSelezionaLingua", 2))
        return 1;

    // The probe: every tick notes how long the event loop was away since the
    // last one; the longest stretches are kept with what the window showed.
    QElapsedTimer clock;
    qint64 lastTick = 0;
    QString lastPhase;
    QString lastCoarse;
    std::vector<Gap> gaps;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(5);
    auto tick = [&] {
        const qint64 now = clock.nsecsElapsed();
        const QString phase = phaseOf(w, true);
        const QString coarse = phaseOf(w, false);
        if (coarse != lastCoarse) {
            std::fprintf(stderr, "bench_install: %8.3f s  %s\n", double(now) / 1e9, qPrintable(coarse));
            lastCoarse = coarse;
        }
        gaps.push_back({ lastTick, now - lastTick, lastPhase, phase });
        std::sort(gaps.begin(), gaps.end(), [](const Gap &a, const Gap &b) { return a.lengthNs > b.lengthNs; });
        if (gaps.size() > 8)
            gaps.pop_back();
        lastTick = now;
        lastPhase = phase;
    };
    QObject::connect(&probe, &QTimer::timeout, &w, tick);

    // The cancel: pressed from the probe once extraction progress shows, timed
    // until the probe next runs with the progress window gone.
    QElapsedTimer sincePress;
    double cancelMs = -1;
    if (cancel) {
        QObject::connect(&probe, &QTimer::timeout, &w, [&] {
            auto *box = w.findChild<TProgressBox *>();
            if (!sincePress.isValid()) {
                auto *bar = box ? box->findChild<QProgressBar *>(QStringLiteral("progressBar")) : nullptr;
                if (box && box->isVisible() && labelText(box, "lblMessage").contains(QLatin1String("estrazione"))
                    && bar && bar->value() > 0) {
                    sincePress.start();
                    box->findChild<QToolButton *>(QStringLiteral("tbCancel"))->click();
                }
            } else if (cancelMs < 0 && !box->isVisible()) {
                cancelMs = double(sincePress.nsecsElapsed()) / 1e6;
            }
        });
    }

    auto *install = w.findChild<QToolButton *>(QStringLiteral("tbOkAggiornamentiDisponibili"));
    if (!install || !install->isEnabled()) {
        std::fprintf(stderr, "bench_install: tbOkAggiornamentiDisponibili cannot be pressed\n");
        return 1;
    }
    lastPhase = phaseOf(w, true);
    probe.start();
    clock.start();
    install->click();
    tick(); // the stretch from the last tick to the end of the run counts too
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    probe.stop();

    if (cancel) {
        if (cancelMs < 0 || page(w) != 2 || answerer.answered != 1) {
            std::fprintf(stderr, "bench_install: the cancel did not end on step 3 with its message\n");
            return 1;
        }
        std::printf("cancel_ms=%.1f\n", cancelMs);
        return 0;
    }
    if (page(w) != 3) {
        std::fprintf(stderr, "bench_install: the installation ended on step %d, not 4\n", page(w) + 1);
        return 1;
    }
    if (answerer.answered > 0) {
        std::fprintf(stderr, "bench_install: the installation showed %d message(s)\n", answerer.answered);
        return 1;
    }

    for (const Gap &gap : gaps)
        std::fprintf(stderr, "bench_install: gap %7.1f ms at %8.3f s  from [%s] to [%s]\n", double(gap.lengthNs) / 1e6,
                     double(gap.startNs) / 1e9, qPrintable(gap.before), qPrintable(gap.after));

    // The packages the run fetched: service path (from the download list),
    // local name and kind (from the manifest the run wrote).
    QFile report(app.arguments().at(1));
    if (!report.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return 2;
    TIniFiles manifest(QStringLiteral("work/update.ini"), true);
    const QStringList downloads = w.downloads();
    for (qsizetype i = 0; i < downloads.size(); ++i) {
        const QString value = manifest.readString(QStringLiteral("pc_update"), QStringLiteral("file_") + QString::number(i));
        const QString name = value.section(QLatin1Char(':'), 0, 0);
        const QString kind = value.section(QLatin1Char(':'), 1, 1);
        const QString path = DownloadNames::servicePath(downloads.at(i));
        if (name.isEmpty())
            continue;
        report.write(QStringLiteral("package %1 %2 %3\n").arg(path, name, kind.isEmpty() ? QStringLiteral("-") : kind).toUtf8());
    }
    report.close();
    std::printf("seconds=%.3f gap_ms=%.1f\n", seconds, gaps.empty() ? 0.0 : double(gaps.front().lengthNs) / 1e6);
    return 0;
}
