#pragma once

#include <QByteArray>
#include <QString>

/// Uploading one file to an FTP server: log in, change to a folder, store the
/// file in binary under a temporary name and rename it to its final name, so
/// the receiving side never sees a half-written file under the final name.
namespace FtpUpload {

struct Request
{
    QString host;
    int port = 21;
    QString user;
    QString password;
    /// Folder relative to the login folder, changed to with one CWD command.
    QString folder;
    /// The bytes to store.
    QByteArray content;
    QString temporaryName;
    QString finalName;
    /// An HTTP proxy ("http://host:port") the exchange tunnels through
    /// (CONNECT); empty: a direct connection.
    QString proxy;
    QString proxyUser;
    QString proxyPassword;

    /// Time-outs in seconds, so that a dead server cannot hold the caller.
    int connectTimeout = 20;
    /// Longest wait for any single reply of the server (login, CWD, the
    /// final reply after the data, the rename).
    int responseTimeout = 60;
    /// The transfer is abandoned when fewer than lowSpeedLimit bytes per
    /// second move for lowSpeedTime seconds.
    int lowSpeedTime = 30;
    int lowSpeedLimit = 1;
};

struct Result
{
    bool ok = false;
    /// libcurl's result code (0 on success).
    int code = 0;
    /// The last FTP reply code the server sent (0 when none arrived).
    int ftpReply = 0;
    QString message;
};

/// Runs the whole exchange on the calling thread and returns when it is done.
Result uploadBlocking(const Request &request);

/// Runs uploadBlocking() on a worker thread while the calling (GUI) thread
/// waits in a local event loop, so windows keep repainting meanwhile.
Result upload(const Request &request);

/// True when name can be used as a remote file name: not empty and without
/// folder separators or characters that would end an FTP command line.
bool isSafeRemoteName(const QString &name);

} // namespace FtpUpload
