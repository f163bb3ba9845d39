#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace FuzzSupport {

namespace {

void quietHandler(QtMsgType, const QMessageLogContext &, const QString &)
{
}

std::unique_ptr<QTemporaryDir> &scratch()
{
    static std::unique_ptr<QTemporaryDir> dir;
    return dir;
}

} // namespace

void initialize(int *, char ***, bool gui)
{
    // Debug traces are formatted before any handler sees them: switch them off.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    qInstallMessageHandler(quietHandler);
    // The application gets arguments of its own: Qt removes the ones it
    // recognises, and libFuzzer reads its flags from the real ones afterwards.
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    if (gui) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static QGuiApplication app(argc, argv);
    } else {
        static QCoreApplication app(argc, argv);
    }
}

QString scratchFolder()
{
    auto &dir = scratch();
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>();
        if (!dir->isValid())
            fail("no scratch folder");
        std::atexit([] { scratch().reset(); });
    }
    return dir->path();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        fail("cannot write scratch file", path);
}

void fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "FUZZ FAILURE: %s %s\n", what, detail.toLocal8Bit().constData());
    std::fflush(stderr);
    std::abort();
}

} // namespace FuzzSupport
