#pragma once

#include <QDialog>

namespace Ui {
class TMessagebox;
}

/// Modal message box with a title strip, a centred message and up to two
/// buttons. exec() returns 1 for Ok, -1 for Cancel and 0 for Escape or the
/// close control.
class TMessagebox : public QDialog
{
    Q_OBJECT
public:
    /// buttonMode 0 hides both buttons (a wait box), 1 shows only Ok, any other
    /// value shows Cancel and Ok.
    explicit TMessagebox(QWidget *parent = nullptr, int buttonMode = 2);
    ~TMessagebox() override;

    void setTitle(const QString &text);
    /// Rich text is allowed; external links always open in the browser, but
    /// are clickable only when flags allow link interaction.
    void setMessage(const QString &text, Qt::TextInteractionFlags flags = Qt::NoTextInteraction);

protected:
    void resizeEvent(QResizeEvent *event) override;

private slots:
    void on_tbOk_clicked();
    void on_tbCancel_clicked();

private:
    Ui::TMessagebox *ui;
};
