#pragma once

#include <QDialog>

namespace Ui {
class TLinguaBox;
}

/// Lets the user choose the language of the updater's own texts from the
/// languages of "language.ini"; Ok stores the choice and loads its translation.
class TLinguaBox : public QDialog
{
    Q_OBJECT
public:
    explicit TLinguaBox(QWidget *parent = nullptr);
    ~TLinguaBox() override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private slots:
    void on_tbOk_clicked();
    void on_tbCancel_clicked();

private:
    Ui::TLinguaBox *ui;
};
