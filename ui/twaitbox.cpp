#include "ui/twaitbox.h"

#include "language/ttranslator.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>

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

void TWaitBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    TMessagebox::keyPressEvent(event);
}

void TWaitBox::closeEvent(QCloseEvent *event)
{
    if (event->spontaneous()) {
        event->ignore();
        return;
    }
    TMessagebox::closeEvent(event);
}
