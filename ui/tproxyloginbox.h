#pragma once

#include "ui/tmessagebox.h"

class QLineEdit;

/// Asks for the user name and password of a proxy that wants them (407): a
/// TMessagebox with two fields under its message, the password masked, Ok
/// and Cancel. exec() returns 1 for Ok.
class TProxyLoginBox : public TMessagebox
{
    Q_OBJECT
public:
    /// proxy names the proxy ("host:port") in the message.
    TProxyLoginBox(QWidget *parent, const QString &proxy);

    QString userName() const;
    QString password() const;

private:
    QLineEdit *user = nullptr;
    QLineEdit *secret = nullptr;
};
