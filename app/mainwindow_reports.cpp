// After an installation: the version report with its upload and the record of
// installed versions for the update notifier.
#include "app/mainwindow.h"

#include "service/installedversions.h"
#include "service/thttp.h"
#include "service/versionreport.h"

VersionReport::Sources MainWindow::reportSources()
{
    VersionReport::Sources sources;
    sources.dateTimeMs = [this] { return httpClient->getDateTimeMs(); };
    sources.dateStamp = [this] { return httpClient->getDateStamp(); };
    sources.proxyLogin
        = [this] { return qMakePair(httpClient->proxyUserName(), httpClient->proxyPassword()); };
    return sources;
}

void MainWindow::recordVersionReport()
{
    VersionReport::Inputs inputs;
    inputs.serialNumber = serialNumber;
    inputs.cardRoot = cardRoot;
    inputs.selectedLanguageId = selectedLanguageId;
    // The window keeps no expiry date of the account; the column stays empty
    // until one is kept (put that member here then).
    inputs.expiration = QString();
    inputs.cardSwVersion = embeddedVersion(cardRoot + QStringLiteral("varno/main"));
    inputs.updaterVersion = updaterVersion();
    inputs.filesIntact = filesIntact;
    inputs.missingFiles = missingFiles;
    VersionReport::record(inputs, reportSources()); // uploads when the row was written
}

void MainWindow::uploadVersionReport()
{
    VersionReport::upload(reportSources());
}

void MainWindow::recordInstalledVersions(const QString &productFolder)
{
    InstalledVersions::Inputs inputs;
    inputs.productFolder = productFolder;
    inputs.dataFolder = redirectionFields.value(2);
    inputs.referenceDataFolder = redirectionFields.value(7);
    inputs.languageId = selectedLanguageId;
    inputs.defaultLanguage = reserveLanguageId;
    inputs.cardRoot = cardRoot;
    inputs.updaterVersion = updaterVersion();
    InstalledVersions::record(inputs, &MainWindow::embeddedVersion);
}
