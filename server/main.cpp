// update_hub_service: the reference update service used by the tests, the
// benchmarks and the demo. See server/README.md for the options and the
// catalogue format.

#include "server/demo.h"
#include "server/updateservice.h"

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void requestStop(int)
{
    stopRequested = 1;
}

int usage()
{
    fprintf(stderr,
            "usage: update_hub_service --root DIR --port N [--log FILE] [--latency-ms N]\n"
            "                          [--fault \"PREFIX=>ACTION\"]... [--watch-stdin]\n"
            "       update_hub_service --make-demo DIR\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    ServiceOptions options;
    bool portGiven = false;
    bool watchStdin = false;
    QString demoFolder;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        const bool hasValue = i + 1 < argc;
        const QString value = hasValue ? QString::fromLocal8Bit(argv[i + 1]) : QString();
        bool ok = true;
        if (argument == QLatin1String("--watch-stdin")) {
            watchStdin = true;
            continue;
        }
        if (!hasValue)
            return usage();
        ++i;
        if (argument == QLatin1String("--root")) {
            options.root = value;
        } else if (argument == QLatin1String("--port")) {
            options.port = value.toInt(&ok);
            ok = ok && options.port >= 0 && options.port <= 65535;
            portGiven = true;
        } else if (argument == QLatin1String("--log")) {
            options.logPath = value;
        } else if (argument == QLatin1String("--latency-ms")) {
            options.latencyMs = value.toLongLong(&ok);
            ok = ok && options.latencyMs >= 0;
        } else if (argument == QLatin1String("--fault")) {
            FaultRule rule;
            ok = parseFaultRule(value, &rule);
            options.faults.append(rule);
        } else if (argument == QLatin1String("--make-demo")) {
            demoFolder = value;
        } else {
            ok = false;
        }
        if (!ok) {
            fprintf(stderr, "update_hub_service: bad argument %s %s\n", argv[i - 1], argv[i]);
            return usage();
        }
    }

    if (!demoFolder.isEmpty()) {
        QString error;
        if (!writeDemoCatalogue(demoFolder, &error)) {
            fprintf(stderr, "update_hub_service: %s\n", qPrintable(error));
            return 1;
        }
        return 0;
    }
    if (options.root.isEmpty() || !portGiven)
        return usage();
    if (!QFileInfo(options.root).isDir()) {
        fprintf(stderr, "update_hub_service: %s is not a folder\n", qPrintable(options.root));
        return 1;
    }
    options.root = QDir(options.root).absolutePath();

    UpdateService service(options);
    const int port = service.bind();
    if (port <= 0) {
        fprintf(stderr, "update_hub_service: cannot listen on 127.0.0.1:%d\n", options.port);
        return 1;
    }

    std::signal(SIGTERM, requestStop);
    std::signal(SIGINT, requestStop);
    std::atomic<bool> finished { false };
    std::thread watcher([&] {
        while (!finished && !stopRequested)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        service.stop();
    });
    if (watchStdin) {
        // A parent that dies without stopping the service closes this pipe.
        std::thread([] {
            char buffer[256];
            while (fread(buffer, 1, sizeof(buffer), stdin) > 0) { }
            stopRequested = 1;
        }).detach();
    }

    printf("%d\n", port);
    fflush(stdout);
    const bool ok = service.run();
    finished = true;
    watcher.join();
    return ok || stopRequested ? 0 : 1;
}
