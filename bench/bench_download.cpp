// Downloads one service file with THttp::getToFile, the way the download run
// fetches packages, and reports time and memory:
//   bench_download PORT SERVICE_PATH TARGET_FILE
// prints "seconds=S bytes=B idle_kib=I peak_kib=P" (resident memory before
// the transfer and the peak of the whole process).
#include "service/thttp.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// A "Vm...:" line of /proc/self/status in KiB, 0 when it is missing.
qint64 statusKiB(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Per-chunk traces would be measured too.
    QLoggingCategory::setFilterRules(QStringLiteral("update_hub.*.debug=false"));
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: bench_download PORT SERVICE_PATH TARGET_FILE\n");
        return 2;
    }
    const QString target = QFileInfo(args.at(3)).absoluteFilePath();

    // THttp reads ./http_server.ini: give it a folder of its own.
    QTemporaryDir folder;
    if (!folder.isValid() || !QDir::setCurrent(folder.path()))
        return 2;
    QFile ini(QStringLiteral("http_server.ini"));
    if (!ini.open(QIODevice::WriteOnly)
        || ini.write("[server]\naddress=127.0.0.1\nport=" + args.at(1).toLatin1() + "\nstall_timeout=30\n")
            < 0)
        return 2;
    ini.close();

    THttp http;
    const qint64 idle = statusKiB("VmRSS");
    QElapsedTimer timer;
    timer.start();
    const bool complete = http.getToFile(args.at(2), target);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (!complete) {
        std::fprintf(stderr, "bench_download: download failed (status %d)\n", http.statusCode());
        return 1;
    }
    std::printf("seconds=%.3f bytes=%lld idle_kib=%lld peak_kib=%lld\n", seconds,
                static_cast<long long>(QFileInfo(target).size()), static_cast<long long>(idle),
                static_cast<long long>(statusKiB("VmHWM")));
    return 0;
}
