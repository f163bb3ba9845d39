#include "ui/tmessagebox.h"

#include "ui/dialogstyle.h"
#include "ui_tmessagebox.h"

#include <QResizeEvent>

TMessagebox::TMessagebox(QWidget *parent, int buttonMode)
    : QDialog(parent)
    , ui(new Ui::TMessagebox)
{
    initUiResources();
    ui->setupUi(this);
    setStyleSheet(dialogStyleSheet());

    switch (buttonMode) {
    case 0:
        ui->tbOk->hide();
        ui->tbCancel->hide();
        break;
    case 1:
        ui->tbCancel->hide();
        break;
    default:
        break;
    }
}

TMessagebox::~TMessagebox()
{
    delete ui;
}

void TMessagebox::setTitle(const QString &text)
{
    ui->lblTitle->setText(text);
}

void TMessagebox::setMessage(const QString &text, Qt::TextInteractionFlags flags)
{
    ui->lblMessage->setText(text);
    ui->lblMessage->setTextInteractionFlags(flags);
    ui->lblMessage->setOpenExternalLinks(true);
}

void TMessagebox::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    setMask(roundedRegion(rect()));
}

void TMessagebox::on_tbOk_clicked()
{
    done(1);
}

void TMessagebox::on_tbCancel_clicked()
{
    done(-1);
}
