#pragma once

#include <QString>

class QSettings;

/// The one process-wide handle on the registry key
/// HKEY_CURRENT_USER\SOFTWARE\Orvane\<product key>, where the updater publishes
/// values for the update notifier and reads the notifier's version.
/// Callers pair instance() with release(); only one key is open at a time.
class TRegistrySettings
{
public:
    /// The open instance. The first call (or the first after release()) opens
    /// productKey and sets "InstallDir" to the running program's folder; an
    /// empty key then gives none, and so does a name with "..", "/", "\" or
    /// a control character (it could reach another key). While an instance exists, a non-empty key
    /// other than its own gives none, an empty or equal one gives it.
    static TRegistrySettings *instance(const QString &productKey);
    /// Writes pending values, closes the key and forgets the instance.
    static void release();

    void setLanguage(const QString &text);
    void setDefaultLanguage(const QString &text);
    void setValue(const QString &name, const QString &text);
    QString value(const QString &name, const QString &defaultValue = QString()) const;

    QString productKey() const { return m_productKey; }
    QString keyPath() const { return m_keyPath; }

private:
    explicit TRegistrySettings(const QString &productKey);
    ~TRegistrySettings();
    TRegistrySettings(const TRegistrySettings &) = delete;
    TRegistrySettings &operator=(const TRegistrySettings &) = delete;

    QString m_keyPath;
    QString m_productKey;
    QSettings *store = nullptr;
};
