#pragma once

#include <QString>

/// Writes a complete demo catalogue into folder: service.ini, version files,
/// language lists and real zip packages that a whole online run can install.
bool writeDemoCatalogue(const QString &folder, QString *error);
