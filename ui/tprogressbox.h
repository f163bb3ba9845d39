#pragma once

#include <QDialog>

namespace Ui {
class TProgressBox;
}
class QProgressBar;

/// Progress window of long phases (downloads, extraction, self-update): a
/// title strip, a message, optional time-left and speed read-outs, and two
/// bars, one for the current item and one for the whole operation.
class TProgressBox : public QDialog
{
    Q_OBJECT
public:
    explicit TProgressBox(QWidget *parent = nullptr);
    ~TProgressBox() override;

    void setTitle(const QString &text);
    void setMessage(const QString &text);

    /// Shows done/total on the item bar and overallDone/overallTotal on the
    /// whole-operation bar (overallTotal 0 means "use total"). Byte counts may
    /// exceed the int range of QProgressBar; they are scaled down together.
    /// A blank timeLeft or speed hides that read-out with its caption.
    void updateProgress(qint64 done, qint64 total, const QString &timeLeft, const QString &speed,
                        qint64 overallDone, qint64 overallTotal);

    /// Sets bar to value/maximum, scaling both by the same power of two so the
    /// maximum fits an int; the value is kept inside 0..maximum.
    static void setBarProgress(QProgressBar *bar, qint64 value, qint64 maximum);

signals:
    /// tbCancel, Escape or the close control: the window stays until the
    /// work it shows has stopped and its owner closes it.
    void cancelRequested();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::TProgressBox *ui;
};
