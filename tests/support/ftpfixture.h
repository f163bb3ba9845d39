#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include "support/testsystem.h"

/// A real FTP server on a free loopback port for one test: the system's
/// pyftpdlib run by /usr/bin/python3 (tests/helpers/ftpserver.py) with one
/// account that may write, serving a fresh temporary folder of the build
/// folder. The server is stopped on destruction.
class FtpFixture
{
public:
    FtpFixture(const QString &user, const QString &password);
    ~FtpFixture();
    FtpFixture(const FtpFixture &) = delete;
    FtpFixture &operator=(const FtpFixture &) = delete;

    /// True when the interpreter and its FTP server module are installed.
    static bool available();

    /// Starts the server and waits until it greets a client; false on failure.
    bool start();
    /// Stops the server (the port then refuses connections).
    void stop();

    int port() const { return m_port; }
    /// The folder the server serves (the account's login folder).
    QString root() const { return m_root.path(); }

    bool makeDir(const QString &relative) const;
    QByteArray readFile(const QString &relative) const;
    /// Names of the files in a folder below the root, sorted.
    QStringList fileNames(const QString &relative) const;

private:
    /// One start; empty when it greets, else what went wrong.
    QString startOnce();
    QString stopFile() const;

    QString m_user;
    QString m_password;
    QTemporaryDir m_root;
    TestSystem::HostProcess m_process;
    int m_port = 0;
};
