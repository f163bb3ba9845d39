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
};
