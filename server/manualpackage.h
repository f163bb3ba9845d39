#pragma once

#include <QString>
#include <QStringList>

/// What a manual-update package is made for: the installation's
/// customization key, the customer's account and the two languages.
struct ManualPackageOptions
{
    QString root; // the catalogue folder (service.ini and the files it serves)
    QString customization = QStringLiteral("praxo");
    QString account; // empty: the catalogue's first account
    QString selectedLanguage; // empty: the first language of the language list
    QString reserveLanguage; // empty: the second one (the first when there is only one)
};

/// Writes the zip a dealer hands a customer without internet: "syslang.ini"
/// and "update.ini" as the online update plan writes them into the work
/// folder, and every archive that the plan would download for an installation
/// that has nothing yet (PC and card), under the names the download run gives
/// them. The answers come from the catalogue as the service would give them.
/// lines receives one line per archive; on failure nothing is left at zipPath.
bool writeManualPackage(const QString &zipPath, const ManualPackageOptions &options, QStringList *lines,
                        QString *error);
