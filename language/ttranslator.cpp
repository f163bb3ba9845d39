#include "language/ttranslator.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTranslator>

Q_LOGGING_CATEGORY(lcLanguage, "update_hub.language")

namespace {

TTranslator *single = nullptr;

void destroySingle()
{
    delete single;
    single = nullptr;
}

} // namespace

TTranslator *TTranslator::instance()
{
    if (!single) {
        single = new TTranslator;
        // Deleted while the application object still exists, so the translator can be removed from it.
        qAddPostRoutine(destroySingle);
    }
    return single;
}

TTranslator::TTranslator()
    : QObject(nullptr)
{
}

TTranslator::~TTranslator()
{
    removeInstalled();
}

void TTranslator::removeInstalled()
{
    if (!translator)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::removeTranslator(translator);
    delete translator;
    translator = nullptr;
}

void TTranslator::loadTranslation(const QString &path)
{
    removeInstalled();
    if (!QFileInfo::exists(path)) {
        qCDebug(lcLanguage) << "no translation at" << path;
        return;
    }
    translator = new QTranslator(this);
    translator->setObjectName(QStringLiteral("translator"));
    const bool loaded = translator->load(path, QStringLiteral("."));
    qCDebug(lcLanguage) << "translation" << path << (loaded ? "loaded" : "could not be loaded");
    // Installed even when empty: it then translates nothing.
    QCoreApplication::installTranslator(translator);
}

QString TTranslator::translate(const QString &text) const
{
    // lrelease stores the source texts as UTF-8, so the lookup key must be the
    // UTF-8 bytes; Latin-1 bytes would miss every text with an accent.
    const QByteArray source = text.toUtf8();
    if (source.contains('\0'))
        return text;
    return QCoreApplication::translate("TTranslator", source.constData());
}
