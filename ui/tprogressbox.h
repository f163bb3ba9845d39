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

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    Ui::TProgressBox *ui;
};
