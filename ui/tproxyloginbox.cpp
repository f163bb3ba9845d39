#include "ui/tproxyloginbox.h"

#include "language/ttranslator.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

TProxyLoginBox::TProxyLoginBox(QWidget *parent, const QString &proxy)
    : TMessagebox(parent, 2)
{
    setObjectName(QStringLiteral("TProxyLoginBox"));
    setTitle(TTranslator::instance()->translate(QString::fromUtf8("Attenzione")));
    setMessage(TTranslator::instance()
                   ->translate(QString::fromUtf8("Il proxy %1 richiede nome utente e password."))
                   .arg(proxy.toHtmlEscaped()));

    user = new QLineEdit(this);
    user->setObjectName(QStringLiteral("lineEditProxyUser"));
    user->setPlaceholderText(TTranslator::instance()->translate(QString::fromUtf8("Nome utente")));
    secret = new QLineEdit(this);
    secret->setObjectName(QStringLiteral("lineEditProxyPassword"));
    secret->setPlaceholderText(TTranslator::instance()->translate(QString::fromUtf8("Password")));
    secret->setEchoMode(QLineEdit::Password);
    // Under the message, above the buttons, with the message's margins.
    if (auto *box = qobject_cast<QVBoxLayout *>(layout())) {
        auto *fields = new QVBoxLayout;
        fields->setContentsMargins(15, 0, 15, 0);
        fields->addWidget(user);
        fields->addWidget(secret);
        box->insertLayout(2, fields);
    }
    user->setFocus();
}

QString TProxyLoginBox::userName() const
{
    return user->text();
}

QString TProxyLoginBox::password() const
{
    return secret->text();
}
