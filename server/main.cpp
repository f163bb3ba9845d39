// update_hub_service: the reference update service used by the tests, the
// benchmarks and the demo. See server/README.md for the options and the
// catalogue format.

#include "server/demo.h"
#include "server/manualpackage.h"
#include "server/updateservice.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

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
            "                          [--fault \"PREFIX=>ACTION\"]... [--watch-stdin] [--port-file FILE]\n"
            "       update_hub_service --make-demo DIR\n"
            "       update_hub_service --make-manual-package OUT.zip [--root DIR] [--customization KEY]\n"
            "                          [--account CODE] [--languages SEL,DEF]\n");
    return 2;
}

int makeManualPackage(const QString &out, const QString &root, ManualPackageOptions options)
{
    // Without a catalogue, the demo catalogue made for the occasion.
    QTemporaryDir demo;
    QString error;
    if (root.isEmpty()) {
        if (!demo.isValid() || !writeDemoCatalogue(demo.path(), &error)) {
            fprintf(stderr, "update_hub_service: %s\n",
                    qPrintable(error.isEmpty() ? demo.errorString() : error));
            return 1;
        }
        options.root = demo.path();
    } else {
        options.root = root;
    }
    QStringList lines;
    const bool made = writeManualPackage(out, options, &lines, &error);
    for (const QString &line : std::as_const(lines))
        printf("%s\n", qPrintable(line));
    if (!made) {
        fprintf(stderr, "update_hub_service: %s\n", qPrintable(error));
        return 1;
    }
    printf("manual package %s\n", qPrintable(out));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    ServiceOptions options;
    bool portGiven = false;
    bool watchStdin = false;
    QString portFile;
    QString demoFolder;
    QString manualPackage;
    ManualPackageOptions manual;
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
        } else if (argument == QLatin1String("--port-file")) {
            portFile = value;
        } else if (argument == QLatin1String("--latency-ms")) {
            options.latencyMs = value.toLongLong(&ok);
            ok = ok && options.latencyMs >= 0;
        } else if (argument == QLatin1String("--fault")) {
            FaultRule rule;
            ok = parseFaultRule(value, &rule);
            options.faults.append(rule);
        } else if (argument == QLatin1String("--make-demo")) {
            demoFolder = value;
        } else if (argument == QLatin1String("--make-manual-package")) {
            manualPackage = value;
        } else if (argument == QLatin1String("--customization")) {
            manual.customization = value;
        } else if (argument == QLatin1String("--account")) {
            manual.account = value;
        } else if (argument == QLatin1String("--languages")) {
            const QStringList languages = value.split(QLatin1Char(','));
            manual.selectedLanguage = languages.value(0).trimmed();
            manual.reserveLanguage = languages.value(1).trimmed();
            ok = languages.size() == 2 && !manual.selectedLanguage.isEmpty()
                && !manual.reserveLanguage.isEmpty();
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
    if (!manualPackage.isEmpty())
        return makeManualPackage(manualPackage, options.root, manual);
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

    if (portFile.isEmpty()) {
        printf("%d\n", port);
        fflush(stdout);
    } else {
        // Whole or absent: a reader never sees half a number.
        QSaveFile file(portFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(port) + '\n') < 0 || !file.commit()) {
            fprintf(stderr, "update_hub_service: cannot write %s\n", qPrintable(portFile));
            service.stop();
            finished = true;
            watcher.join();
            return 1;
        }
    }
    const bool ok = service.run();
    finished = true;
    watcher.join();
    return ok || stopRequested ? 0 : 1;
}
