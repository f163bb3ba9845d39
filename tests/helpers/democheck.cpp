// Drives a whole online update in a demo installation the way a user would:
// download button, account code, customer data, language page, available
// updates. Run from the installation folder (with HOME and UPDATE_HUB_DRIVES
// set as for the updater itself) on the offscreen platform. Prints what each
// step showed and what was installed; exits with 1 when a step did not happen.
#include "app/mainwindow.h"
#include "support/modalanswerer.h"

#include <QApplication>
#include <QDirIterator>
#include <QStackedWidget>
#include <QTextEdit>
#include <QTest>
#include <QTextStream>
#include <QToolButton>

namespace {

QTextStream out(stdout);

int page(MainWindow &w)
{
    return w.findChild<QStackedWidget *>(QStringLiteral("stackedWidgetAgg"))->currentIndex();
}

bool click(MainWindow &w, const char *button, int expectedPage)
{
    auto *tool = w.findChild<QToolButton *>(QLatin1String(button));
    if (!tool || !tool->isEnabled()) {
        out << "FAILED: " << button << " cannot be pressed\n";
        return false;
    }
    QTest::mouseClick(tool, Qt::LeftButton);
    out << button << ": step " << page(w) + 1 << '\n';
    out.flush();
    if (page(w) != expectedPage) {
        out << "FAILED: expected step " << expectedPage + 1 << '\n';
        return false;
    }
    return true;
}

void listFiles(const QString &title, const QString &folder)
{
    out << title << " (" << folder << "):\n";
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    QStringList files;
    while (it.hasNext()) {
        const QString file = it.next();
        files << QStringLiteral("  %1 (%2 bytes)").arg(QDir(folder).relativeFilePath(file)).arg(QFileInfo(file).size());
    }
    files.sort();
    for (const QString &line : files)
        out << line << '\n';
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
    bool ok = true;
    {
        MainWindow w;
        w.show();
        ok = click(w, "tbDownload", 0) && click(w, "tbOkPw", 0) && click(w, "tbOkInfo", 1)
            && click(w, "tbOkSelezionaLingua", 2);
        if (ok) {
            out << "available updates:\n";
            for (const char *name : { "textRelDiag1", "textRelDiag2", "textRelDiag3" }) {
                auto *edit = w.findChild<QTextEdit *>(QLatin1String(name));
                if (edit && edit->isVisibleTo(&w))
                    out << "  " << edit->toPlainText().simplified() << '\n';
            }
            ok = click(w, "tbOkAggiornamentiDisponibili", 3);
        }
        for (qsizetype i = 0; i < answerer.titles().size(); ++i)
            out << "message: " << answerer.titles().at(i) << ": " << answerer.messages().at(i) << '\n';
        if (ok) {
            QFile log(QStringLiteral("stati.log"));
            if (log.open(QIODevice::ReadOnly))
                out << "stati.log:\n" << log.readAll();
            listFiles(QStringLiteral("PC installation"), QStringLiteral("."));
            if (!w.card().isEmpty())
                listFiles(QStringLiteral("card"), w.card());
        }
    }
    out << (ok ? "demo check: the online update completed\n" : "demo check: FAILED\n");
    out.flush();
    return ok ? 0 : 1;
}
