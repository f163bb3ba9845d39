// The log archive sent at the start of every update run: the files of
// "plugins/log" and of "plugins/log/ovp" go to the service, one archive per
// folder, and the local archive is removed afterwards.
#include "app/mainwindow.h"

#include "archive/tzipfile.h"
#include "service/thttp.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

void MainWindow::uploadLogArchives()
{
    const QString archiveName = serialNumber + QLatin1Char('_')
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) + QStringLiteral(".zip");

    struct FolderPair
    {
        QString localFolder;
        QString remotePrefix;
    };
    const FolderPair pairs[] = {
        { QStringLiteral("plugins/log"), QStringLiteral("log/data/") },
        { QStringLiteral("plugins/log/ovp"), QStringLiteral("log/data/ovp/") },
    };
    for (const FolderPair &pair : pairs) {
        const QFileInfoList entries = QDir(pair.localFolder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot,
                                                                          QDir::Name | QDir::IgnoreCase);
        for (const QFileInfo &entry : entries) {
            if (entry.isDir())
                continue;
            // The file's own path as base path names the entry "//" + file name.
            const QString file = entry.filePath();
            if (!TZipFile::ZipSingleFile(file, file, archiveName, QString()))
                qCDebug(lcApp).noquote() << "log archive: cannot add" << file;
        }
        if (!QFile::exists(archiveName))
            continue;
        const bool uploaded = httpClient->uploadFile(QString(), pair.remotePrefix, archiveName);
        qCDebug(lcApp).noquote() << "log archive" << pair.remotePrefix + archiveName << "uploaded:" << uploaded;
        // A failed upload is not retried: the log files stay and go with the next run.
        QFile::remove(archiveName);
    }
}
