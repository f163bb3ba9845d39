#include "app/mainwindow.h"

#include <QApplication>
#include <QFile>
#include <QLockFile>
#include <QStackedWidget>
#include <QTimer>

namespace {

// The start check of a packaged program (scripts/package-windows): when
// UPDATE_HUB_START_CHECK names a file, the page the window shows once the
// event loop runs is written there and the window closes, as a user's close
// would. A program that lacks a library or plugin never gets that far.
void scheduleStartCheck(MainWindow &window)
{
    const QString file = qEnvironmentVariable("UPDATE_HUB_START_CHECK");
    if (file.isEmpty())
        return;
    QTimer::singleShot(0, &window, [&window, file]() {
        const auto *pages = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
        QFile out(file);
        if (pages && pages->currentWidget() && out.open(QIODevice::WriteOnly))
            out.write("start page: " + pages->currentWidget()->objectName().toUtf8() + "\n");
        window.close();
    });
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // One updater at a time in a program folder.
    const std::unique_ptr<QLockFile> lock = MainWindow::lockProgramFolder();
    if (!lock)
        return 0;
    int result = 0;
    {
        MainWindow window;
        // Another updater at work on the same card or notifier folder.
        if (window.startRefused())
            return 0;
        window.show();
        scheduleStartCheck(window);
        result = app.exec();
    }
    // The updater always ends with exit code 0 once its window is gone.
    Q_UNUSED(result);
    return 0;
}
