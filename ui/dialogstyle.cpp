#include "ui/dialogstyle.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initImagesResource()
{
    Q_INIT_RESOURCE(images);
}

void initUiResources()
{
    static const bool done = (initImagesResource(), true);
    Q_UNUSED(done);
}

QString dialogStyleSheet()
{
    return QStringLiteral("QDialog { background-color: rgb(80, 80, 80); }\n"
                          "QToolButton {\n"
                          "    min-width: 80px; max-width: 80px; min-height: 40px; max-height: 40px;\n"
                          "    border-radius: 3px;\n"
                          "    background-color: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1,\n"
                          "        stop:0 rgba(135, 135, 135, 255), stop:1 rgba(230, 230, 230, 255));\n"
                          "    color: rgb(0, 44, 118);\n"
                          "}\n"
                          "QLabel { color: white; }\n");
}

QRegion roundedRegion(const QRect &rect, int radius)
{
    const int r = radius;
    const int d = 2 * r;
    QRegion region(rect.adjusted(r, 0, -r, 0));
    region += QRegion(rect.adjusted(0, r, 0, -r));
    region += QRegion(QRect(rect.left(), rect.top(), d, d), QRegion::Ellipse);
    region += QRegion(QRect(rect.right() - d + 1, rect.top(), d, d), QRegion::Ellipse);
    region += QRegion(QRect(rect.left(), rect.bottom() - d + 1, d, d), QRegion::Ellipse);
    region += QRegion(QRect(rect.right() - d + 1, rect.bottom() - d + 1, d, d), QRegion::Ellipse);
    return region;
}
