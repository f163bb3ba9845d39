// Platform layer for Windows: drive enumeration and volume queries, the
// registry below HKEY_CURRENT_USER\SOFTWARE\Orvane, taskkill and the shell.
#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QSettings>
#include <QStorageInfo>

#include <windows.h>
#include <shellapi.h>

#include <vector>

Q_LOGGING_CATEGORY(lcPlatform, "update_hub.platform")

namespace {

QString nativeRoot(const QString &root)
{
    QString path = QDir::toNativeSeparators(root);
    if (!path.endsWith(QLatin1Char('\\')))
        path += QLatin1Char('\\');
    return path;
}

} // namespace

namespace Platform {

QStringList driveRoots()
{
    QStringList roots;
    if (qEnvironmentVariableIsSet("UPDATE_HUB_DRIVES")) {
        const QStringList parts
            = qEnvironmentVariable("UPDATE_HUB_DRIVES").split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (const QString &part : parts)
            roots << QDir::fromNativeSeparators(nativeRoot(part));
        return roots;
    }
    const DWORD length = GetLogicalDriveStringsW(0, nullptr);
    if (length == 0)
        return roots;
    std::vector<wchar_t> buffer(length + 1, L'\0');
    if (GetLogicalDriveStringsW(length, buffer.data()) == 0)
        return roots;
    for (const wchar_t *p = buffer.data(); *p; p += wcslen(p) + 1)
        roots << QString::fromWCharArray(p, 1) + QStringLiteral(":/");
    return roots;
}

bool isRemovableDrive(const QString &root)
{
    if (qEnvironmentVariableIsSet("UPDATE_HUB_DRIVES"))
        return driveRoots().contains(root);
    const QString path = nativeRoot(root);
    return GetDriveTypeW(reinterpret_cast<LPCWSTR>(path.utf16())) == DRIVE_REMOVABLE;
}

bool queryVolume(const QString &root)
{
    if (qEnvironmentVariableIsSet("UPDATE_HUB_DRIVES"))
        return QFileInfo(root).isReadable();
    const QString path = nativeRoot(root);
    wchar_t volumeName[256];
    return GetVolumeInformationW(reinterpret_cast<LPCWSTR>(path.utf16()), volumeName, 256, nullptr, nullptr,
                                 nullptr, nullptr, 0)
        != 0;
}

QString orvaneFolder()
{
    return QStringLiteral("C:/orvane/");
}

QSettings *openRegistryKey(const QString &key)
{
    return new QSettings(registryKeyPath(key), QSettings::NativeFormat);
}

QString registryKeyPath(const QString &key)
{
    return QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Orvane\\") + key;
}

void killProcess(const QString &programName)
{
    QProcess::execute(QStringLiteral("taskkill"), {QStringLiteral("/F"), QStringLiteral("/IM"), programName});
}

bool startProgram(const QString &program, const QStringList &arguments)
{
    const QFileInfo info(program);
    if (!info.exists())
        return false;
    const QString file = QDir::toNativeSeparators(info.absoluteFilePath());
    const QString parameters = arguments.join(QLatin1Char(' '));
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", reinterpret_cast<LPCWSTR>(file.utf16()),
                      parameters.isEmpty() ? nullptr : reinterpret_cast<LPCWSTR>(parameters.utf16()), nullptr,
                      SW_SHOWNORMAL));
    return result > 32;
}

bool windowsVistaOrLater()
{
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma warning(suppress : 4996)
    if (!GetVersionExW(&info))
        return false;
    return info.dwMajorVersion > 5;
}

qint64 freeSpace(const QString &path)
{
    QStorageInfo storage(path);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

void keepFreedMemoryForReuse()
{
    // The Windows heap keeps freed blocks for reuse by itself.
}

} // namespace Platform
