#include "app/mainwindow.h"

#include <QApplication>
#include <QLockFile>

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
        result = app.exec();
    }
    // The updater always ends with exit code 0 once its window is gone.
    Q_UNUSED(result);
    return 0;
}
