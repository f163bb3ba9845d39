#pragma once

#include "language/ttranslator.h"

#include <QString>

// The program's texts are written in the sources as UTF-8 literals (Italian);
// tx() passes one through the run-time translation, text() takes it as is.
inline QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

inline QString tx(const char *utf8)
{
    return TTranslator::instance()->translate(QString::fromUtf8(utf8));
}
