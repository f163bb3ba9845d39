#pragma once

#include "ui/tmessagebox.h"

/// The wait box: a TMessagebox without buttons titled "Attenzione" with the
/// text "Attendere prego...", both translated. showNow() shows it modelessly
/// and lets it paint before the work starts.
class TWaitBox : public TMessagebox
{
public:
    explicit TWaitBox(QWidget *parent);
    void showNow();

protected:
    // The box stays while the work goes on: Escape and the close control do nothing.
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
};
