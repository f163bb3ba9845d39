#include "ui/tprogressbox.h"

#include "language/ttranslator.h"
#include "ui/dialogstyle.h"
#include "ui_tprogressbox.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QToolButton>

#include <climits>

namespace {

// Shows or hides a caption/value pair; a value of blanks only counts as empty.
void showPair(QLabel *caption, QLabel *value, const QString &text, const char *captionText)
{
    if (text.trimmed().isEmpty()) {
        value->hide();
        caption->hide();
        return;
    }
    value->setText(text);
    caption->setText(TTranslator::instance()->translate(QString::fromUtf8(captionText)));
    value->show();
    caption->show();
}

} // namespace

TProgressBox::TProgressBox(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::TProgressBox)
{
    initUiResources();
    ui->setupUi(this);
    setStyleSheet(dialogStyleSheet());
    ui->progressBar->setValue(0);
    ui->progressBarTotal->setValue(0);
    ui->lblTempoRimanente->setText(TTranslator::instance()->translate(QStringLiteral("Tempo rimanente:")));
    ui->lblVelocitaDownload->setText(TTranslator::instance()->translate(QStringLiteral("Velocità:")));
    connect(ui->tbCancel, &QToolButton::clicked, this, &TProgressBox::cancelRequested);
}

TProgressBox::~TProgressBox()
{
    delete ui;
}

void TProgressBox::setTitle(const QString &text)
{
    ui->lblTitle->setText(text);
}

void TProgressBox::setMessage(const QString &text)
{
    ui->lblMessage->setText(text);
}

void TProgressBox::setBarProgress(QProgressBar *bar, qint64 value, qint64 maximum)
{
    if (maximum <= 0) {
        // An unknown or empty total: a busy bar rather than a range Qt would reject.
        bar->setRange(0, 0);
        bar->setValue(0);
        return;
    }
    int shift = 0;
    while ((maximum >> shift) > INT_MAX)
        ++shift;
    const qint64 scaledMax = maximum >> shift;
    const qint64 scaledValue = qBound<qint64>(0, value, maximum) >> shift;
    bar->setRange(0, int(scaledMax));
    bar->setValue(int(scaledValue));
}

void TProgressBox::updateProgress(qint64 done, qint64 total, const QString &timeLeft, const QString &speed,
                                  qint64 overallDone, qint64 overallTotal)
{
    setBarProgress(ui->progressBar, done, total);
    setBarProgress(ui->progressBarTotal, overallDone, overallTotal != 0 ? overallTotal : total);
    showPair(ui->lblTempoRimanente, ui->lblTime, timeLeft, "Tempo rimanente:");
    showPair(ui->lblVelocitaDownload, ui->lblVelocita, speed, "Velocità:");
}

void TProgressBox::keyPressEvent(QKeyEvent *event)
{
    // Escape asks to stop the work instead of hiding the window over it.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        emit cancelRequested();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TProgressBox::closeEvent(QCloseEvent *event)
{
    // Closed by the user (the close control): a cancel; by the code: closed.
    if (event->spontaneous()) {
        event->ignore();
        emit cancelRequested();
        return;
    }
    QDialog::closeEvent(event);
}

void TProgressBox::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    setMask(roundedRegion(rect()));
}
