#include "server/demo.h"

bool writeDemoCatalogue(const QString &folder, QString *error)
{
    *error = QStringLiteral("the demo catalogue is not available yet");
    return false;
}
