#include "support/workspace.h"

#include "support/testsystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

TestWorkspace::TestWorkspace()
{
    m_oldCurrent = QDir::currentPath();
    m_hadHome = qEnvironmentVariableIsSet("HOME");
    m_oldHome = qgetenv("HOME");
    m_hadConfig = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    m_oldConfig = qgetenv("XDG_CONFIG_HOME");
    m_hadData = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    m_oldData = qgetenv("XDG_DATA_HOME");
    if (!m_dir.isValid())
        return;
    QDir root(m_dir.path());
    root.mkpath(QStringLiteral("program"));
    root.mkpath(QStringLiteral("home/.config"));
    root.mkpath(QStringLiteral("home/.local/share"));
    qputenv("HOME", home().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home() + QStringLiteral("/.config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home() + QStringLiteral("/.local/share")).toLocal8Bit());
    QStandardPaths::setTestModeEnabled(false);
    QDir::setCurrent(path());
    // A test that holds the per-user state of Wine's prefix alone (see
    // tests/CMakeLists.txt) starts each workspace from none, as a new home
    // does on Linux.
    if (qEnvironmentVariableIsSet("UPDATE_HUB_TEST_OWNS_USER_STATE"))
        TestSystem::clearUserState();
}

TestWorkspace::~TestWorkspace()
{
    QDir::setCurrent(m_oldCurrent);
    auto restore = [](const char *name, bool had, const QByteArray &value) {
        if (had)
            qputenv(name, value);
        else
            qunsetenv(name);
    };
    restore("HOME", m_hadHome, m_oldHome);
    restore("XDG_CONFIG_HOME", m_hadConfig, m_oldConfig);
    restore("XDG_DATA_HOME", m_hadData, m_oldData);
}

QString TestWorkspace::path() const
{
    return m_dir.path() + QStringLiteral("/program");
}

QString TestWorkspace::home() const
{
    return m_dir.path() + QStringLiteral("/home");
}

QString TestWorkspace::filePath(const QString &relative) const
{
    return path() + QLatin1Char('/') + relative;
}

bool TestWorkspace::writeFile(const QString &relative, const QByteArray &content) const
{
    const QString target = filePath(relative);
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size();
}

QByteArray TestWorkspace::readFile(const QString &relative) const
{
    QFile file(filePath(relative));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool TestWorkspace::makeDir(const QString &relative) const
{
    return QDir().mkpath(filePath(relative));
}
