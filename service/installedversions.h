#pragma once

#include "service/deployment.h"

#include <QList>
#include <QPair>
#include <QString>

#include <functional>

/// The record of installed versions that the separate update notifier reads:
/// for each component the installed version and the address at which the
/// service answers with its latest version, written below the registry key
/// named by the product folder (through TRegistrySettings).
namespace InstalledVersions {

struct Inputs
{
    /// Server folder of the diagnosis software (redirection field 0); names the key.
    QString productFolder;
    /// Server folder of the database files (redirection field 2).
    QString dataFolder;
    /// Server folder of the reference data (redirection field 7).
    QString referenceDataFolder;
    QString languageId;
    QString defaultLanguage;
    /// Root of the instrument's card, ending with "/".
    QString cardRoot;
    QString updaterVersion = QString::fromLatin1(Deployment::updaterVersion);
};

/// Reads the version embedded in a program file (empty when it has none).
using VersionReader = std::function<QString(const QString &programPath)>;

using Values = QList<QPair<QString, QString>>;

/// The main program whose embedded version is recorded: "main.exe" of the
/// working folder, or the card's "varno/main" for "pal_aster".
QString mainProgram(const Inputs &inputs);

/// The first line of a text file with its line end ("\n"), "0.00" when the
/// file cannot be opened.
QString firstLine(const QString &path);

/// Every value of the record, in the order it is written.
Values values(const Inputs &inputs, const VersionReader &embeddedVersion);

/// Writes the whole record and releases the registry key. False when the
/// key could not be had (empty product folder, or another key still open).
bool record(const Inputs &inputs, const VersionReader &embeddedVersion);

} // namespace InstalledVersions
