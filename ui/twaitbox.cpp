#include "ui/twaitbox.h"

#include "language/ttranslator.h"

#include <QCoreApplication>

TWaitBox::TWaitBox(QWidget *parent)
    : TMessagebox(parent, 0)
{
    setTitle(TTranslator::instance()->translate(QStringLiteral("Attenzione")));
    setMessage(TTranslator::instance()->translate(QStringLiteral("Attendere prego...")));
}

void TWaitBox::showNow()
{
    show();
    QCoreApplication::processEvents();
}
