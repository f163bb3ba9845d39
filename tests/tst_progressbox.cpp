// The progress window's bars and read-outs: overall total 0 falls back to the
// current total, blank texts hide their pair, and byte counts beyond the int
// range still show the right proportion.
#include "ui/dialogstyle.h"
#include "ui/tprogressbox.h"

#include <QLabel>
#include <QProgressBar>
#include <QtTest>

class TestProgressBox : public QObject
{
    Q_OBJECT

private:
    static QProgressBar *bar(TProgressBox &box, const char *name)
    {
        return box.findChild<QProgressBar *>(QLatin1String(name));
    }
    static QLabel *label(TProgressBox &box, const char *name) { return box.findChild<QLabel *>(QLatin1String(name)); }
    static double fraction(QProgressBar *b) { return double(b->value()) / double(b->maximum()); }

private slots:
    void initTestCase() { initUiResources(); }

    void barsAndReadouts()
    {
        TProgressBox box;
        box.show();
        box.updateProgress(30, 100, QStringLiteral(" 00:01:05"), QStringLiteral("12.00 kB/s"), 500, 1000);
        QCOMPARE(bar(box, "progressBar")->maximum(), 100);
        QCOMPARE(bar(box, "progressBar")->value(), 30);
        QCOMPARE(bar(box, "progressBarTotal")->maximum(), 1000);
        QCOMPARE(bar(box, "progressBarTotal")->value(), 500);
        QCOMPARE(label(box, "lblTime")->text(), QStringLiteral(" 00:01:05"));
        QVERIFY(label(box, "lblTime")->isVisible());
        QVERIFY(label(box, "lblVelocita")->isVisible());

        // Extraction: no texts, overall total 0 uses the current total.
        box.updateProgress(3, 10, QString(), QString(), 2, 0);
        QCOMPARE(bar(box, "progressBarTotal")->maximum(), 10);
        QCOMPARE(bar(box, "progressBarTotal")->value(), 2);
        QVERIFY(!label(box, "lblTime")->isVisible());
        QVERIFY(!label(box, "lblTempoRimanente")->isVisible());
        QVERIFY(!label(box, "lblVelocita")->isVisible());

        // A blank time hides only the time pair.
        box.updateProgress(3, 10, QStringLiteral("   "), QStringLiteral("1.00 B/s"), 2, 0);
        QVERIFY(!label(box, "lblTime")->isVisible());
        QVERIFY(label(box, "lblVelocita")->isVisible());
    }

    void countsBeyondTwoGigabytes()
    {
        TProgressBox box;
        const qint64 gib = qint64(1) << 30;
        box.updateProgress(3 * gib, 6 * gib, QString(), QString(), 5 * gib, 20 * gib);
        QVERIFY(bar(box, "progressBar")->maximum() > 0);
        QCOMPARE(fraction(bar(box, "progressBar")), 0.5);
        QCOMPARE(fraction(bar(box, "progressBarTotal")), 0.25);
    }
};

QTEST_MAIN(TestProgressBox)
#include "tst_progressbox.moc"
