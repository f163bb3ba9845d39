// Downloads one service file with THttp::getToFile, the way the download run
// fetches packages, and reports time and memory:
//   bench_download PORT SERVICE_PATH TARGET_FILE
// prints "seconds=S bytes=B idle_kib=I peak_kib=P" (resident memory before
// the transfer and the peak of the whole process).
//   bench_download --package PORT SERVICE_PATH TARGET_FILE SIZE
// fetches it as the download run does, through the download cache with its
// resume and retries (3), and prints the same line. With UH_BENCH_PROXY set
// to HOST:PORT the requests go through that HTTP proxy.
#include "service/packagedownload.h"
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
    QStringList args = app.arguments();
    const bool package = args.value(1) == QLatin1String("--package");
    if (package)
        args.removeAt(1);
    if (args.size() != (package ? 5 : 4)) {
        std::fprintf(stderr, "usage: bench_download [--package] PORT SERVICE_PATH TARGET_FILE [SIZE]\n");
        return 2;
    }
    const QString target = QFileInfo(args.at(3)).absoluteFilePath();

    // THttp reads ./http_server.ini: give it a folder of its own.
    QTemporaryDir folder;
    if (!folder.isValid() || !QDir::setCurrent(folder.path()))
        return 2;
    QFile ini(QStringLiteral("http_server.ini"));
    if (!ini.open(QIODevice::WriteOnly)
        || ini.write("[server]\naddress=127.0.0.1\nport=" + args.at(1).toLatin1()
                     + "\nstall_timeout=30\ndownload_retries=3\n")
            < 0)
        return 2;
    // UH_BENCH_PROXY=HOST:PORT: through that HTTP proxy.
    const QString proxy = qEnvironmentVariable("UH_BENCH_PROXY");
    if (!proxy.isEmpty())
        ini.write("proxy_server=" + proxy.section(QLatin1Char(':'), 0, 0).toLatin1()
                  + "\nproxy_port=" + proxy.section(QLatin1Char(':'), 1).toLatin1() + '\n');
    ini.close();

    THttp http;
    const qint64 idle = statusKiB("VmRSS");
    QElapsedTimer timer;
    timer.start();
    bool complete = false;
    if (package) {
        const DownloadCache cache;
        PackageDownload fetch(http, cache);
        complete = fetch.fetch(args.at(2), QFileInfo(target).fileName(), args.at(4).toLongLong(), target)
            == PackageDownload::Outcome::Done;
    } else {
        complete = http.getToFile(args.at(2), target);
    }
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
