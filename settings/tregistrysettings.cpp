#include "settings/tregistrysettings.h"

#include "platform/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QSettings>

Q_DECLARE_LOGGING_CATEGORY(lcSettings)

namespace {

TRegistrySettings *current = nullptr;

// The key name comes from the service. One that could name another key (or,
// off Windows, a settings file outside the maker's folder) is refused.
bool isSafeKeyName(const QString &name)
{
    if (name.contains(QLatin1String("..")) || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return false;
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

} // namespace

TRegistrySettings *TRegistrySettings::instance(const QString &productKey)
{
    if (!current) {
        if (productKey.isEmpty())
            return nullptr;
        if (!isSafeKeyName(productKey)) {
            qCDebug(lcSettings) << "registry key name refused:" << productKey;
            return nullptr;
        }
        current = new TRegistrySettings(productKey);
        // Read by Windows programs (the notifier): a path as Windows writes it.
        current->setValue(QStringLiteral("InstallDir"),
                          QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
        return current;
    }
    if (!productKey.isEmpty() && productKey != current->m_productKey) {
        qCDebug(lcSettings) << "registry key" << current->m_productKey << "is open; refused" << productKey;
        return nullptr;
    }
    return current;
}

void TRegistrySettings::release()
{
    delete current;
    current = nullptr;
}

TRegistrySettings::TRegistrySettings(const QString &productKey)
    : m_keyPath(Platform::registryKeyPath(productKey))
    , m_productKey(productKey)
    , store(Platform::openRegistryKey(productKey))
{
}

TRegistrySettings::~TRegistrySettings()
{
    delete store; // writes pending values
}

void TRegistrySettings::setLanguage(const QString &text)
{
    setValue(QStringLiteral("Language"), text);
}

void TRegistrySettings::setDefaultLanguage(const QString &text)
{
    setValue(QStringLiteral("DefaultLanguage"), text);
}

void TRegistrySettings::setValue(const QString &name, const QString &text)
{
    if (store)
        store->setValue(name, text);
}

QString TRegistrySettings::value(const QString &name, const QString &defaultValue) const
{
    return store ? store->value(name, defaultValue).toString() : defaultValue;
}
