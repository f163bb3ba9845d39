#pragma once

#include "support/testsystem.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

/// A real HTTP proxy (tinyproxy) on a free loopback port for one test: its
/// configuration and log live in a temporary folder; with a user name it
/// asks every client for that login (407 until it is given). The proxy is
/// stopped on destruction.
class ProxyFixture
{
public:
    /// Without a user name the proxy asks for no login.
    explicit ProxyFixture(const QString &user = QString(), const QString &password = QString());
    ~ProxyFixture();
    ProxyFixture(const ProxyFixture &) = delete;
    ProxyFixture &operator=(const ProxyFixture &) = delete;

    /// The proxy program, empty when it is not installed.
    static QString program();

    /// Starts the proxy and waits until it accepts connections; false on failure.
    bool start();
    void stop();

    quint16 port() const { return m_port; }
    /// The proxy's log.
    QByteArray log() const;
    /// The requests the proxy forwarded ("GET http://host:port/path"), oldest first.
    QStringList forwarded() const;

private:
    bool startOnce();

    QString m_user;
    QString m_password;
    QTemporaryDir m_folder;
    TestSystem::HostProcess m_process;
    quint16 m_port = 0;
};
