#pragma once

#include <QRect>
#include <QRegion>
#include <QString>

/// Style sheet shared by the updater's dialogs (message, progress, language):
/// dark background, 80 x 40 grey gradient tool buttons, white labels.
QString dialogStyleSheet();

/// The rounded rectangle the dialogs are cut to: the rectangle narrowed by
/// radius on the left and right, the rectangle narrowed by radius at the top
/// and bottom, and a 2*radius circle in each corner.
QRegion roundedRegion(const QRect &rect, int radius = 10);

/// Registers the picture resources (":/images/img/...") of the static core
/// library. Safe to call more than once.
void initUiResources();
