#include "app/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    int result = 0;
    {
        MainWindow window;
        window.show();
        result = app.exec();
    }
    // The updater always ends with exit code 0 once its window is gone.
    Q_UNUSED(result);
    return 0;
}
