// The test workspace must isolate the working folder and the home folder, or
// every other test could write into the developer's own settings.
#include "support/workspace.h"

#include <QDir>
#include <QtTest>

class TestWorkspaceIsolation : public QObject
{
    Q_OBJECT
private slots:
    void isolatesFoldersAndRestoresThem()
    {
        const QString before = QDir::currentPath();
        const QByteArray homeBefore = qgetenv("HOME");
        QString inside;
        {
            TestWorkspace ws;
            QVERIFY(ws.isValid());
            inside = ws.path();
            QCOMPARE(QDir::currentPath(), QDir(ws.path()).canonicalPath());
            QCOMPARE(QString::fromLocal8Bit(qgetenv("HOME")), ws.home());
            QVERIFY(ws.writeFile(QStringLiteral("a/b/c.txt"), "x"));
            QCOMPARE(ws.readFile(QStringLiteral("a/b/c.txt")), QByteArray("x"));
        }
        QCOMPARE(QDir::currentPath(), before);
        QCOMPARE(qgetenv("HOME"), homeBefore);
        QVERIFY(!QDir(inside).exists());
    }
};

QTEST_GUILESS_MAIN(TestWorkspaceIsolation)
#include "tst_workspace.moc"
