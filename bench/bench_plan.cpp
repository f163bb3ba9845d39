// Runs one update plan in the current folder (an installation whose
// http_server.ini points at the service) and prints its wall time:
//   bench_plan SCOPE  ->  "seconds S ok 1 entries N"
#include "update/updateplanner.h"
#include "service/thttp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

namespace {

// The four characters after the version marker of a program file.
QString markerVersion(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = file.readAll();
    const QByteArray marker = "EXEC_VERSION=";
    const qsizetype at = bytes.indexOf(marker);
    return at < 0 ? QString() : QString::fromLatin1(bytes.mid(at + marker.size(), 4));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();

    PlanInput input;
    input.updateScope = args.value(1, QStringLiteral("2")).toInt();
    input.cardRoot = QStringLiteral("card/");
    input.softwareFolder = QStringLiteral("praxo");
    input.databaseFolders = QStringList { QStringLiteral("database_auto") };
    input.accountCode = QStringLiteral("DEMO-0001");
    input.selectedLanguageId = QStringLiteral("eng");
    input.reserveLanguageId = QStringLiteral("ita");
    input.selectedDescription = QStringLiteral("English");
    input.reserveDescription = QStringLiteral("Italiano");

    THttp http;
    UpdatePlanner planner(http, markerVersion);
    QElapsedTimer timer;
    timer.start();
    const PlanResult result = planner.run(input);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;

    QTextStream(stdout) << "seconds " << QString::number(seconds, 'f', 3) << " ok " << (result.ok ? 1 : 0)
                        << " entries " << result.downloadList.size() << " failed " << result.failedAt << '\n';
    return result.ok ? 0 : 1;
}
