// The undo of an installation left in flight, for bench/install.sh:
//   bench_recovery prepare ROOT ARCHIVE TARGET_FOLDER
//   bench_recovery recover ROOT
// prepare installs ARCHIVE below ROOT/TARGET_FOLDER through InstallTransaction
// (state folder ROOT/.update_hub) as the updater does: staged, read back from
// the device, journaled, every move of the commit made. Then the commit is
// abandoned (the journal says "rollback", as after a failed move) and the
// process ends at once, before the moves are undone, as one killed at that
// point would: the tree holds the new release and the old one lies set aside.
// Prints "files=N".
// recover is the next start: InstallTransaction::recover() on ROOT, timed on
// its own. Prints "seconds=S"; exit 1 unless the installation was undone.
#include "update/installtransaction.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>

namespace {

int prepare(const QString &root, const QString &archive, const QString &targetFolder)
{
    InstallTransaction transaction;
    const int side = transaction.addSide(root, root + QStringLiteral("/.update_hub/"));
    const char *failed = nullptr;
    if (!transaction.stageArchive(side, archive, targetFolder, QStringLiteral("release.zip")))
        failed = "staging";
    else if (!transaction.verify())
        failed = "verification";
    else if (!transaction.writeJournal())
        failed = "journal";
    else if (!transaction.beginCommit() || !transaction.moveAll())
        failed = "commit";
    else if (!transaction.abandonCommit())
        failed = "abandon";
    if (failed) {
        std::fprintf(stderr, "bench_recovery: the %s of the installation failed\n", failed);
        return 1;
    }
    std::printf("files=%d\n", transaction.fileCount());
    std::fflush(stdout);
    // The end of a killed process: no destructor, no clean-up, no undo.
    std::_Exit(0);
}

int recover(const QString &root)
{
    QElapsedTimer clock;
    clock.start();
    const InstallTransaction::Recovery outcome
        = InstallTransaction::recover(root, root + QStringLiteral("/.update_hub/"));
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (outcome != InstallTransaction::Recovery::Undone) {
        std::fprintf(stderr, "bench_recovery: the recovery ended as %d, not as an undo\n", int(outcome));
        return 1;
    }
    std::printf("seconds=%.4f\n", seconds);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args.at(1) == QLatin1String("prepare"))
        return prepare(args.at(2), args.at(3), args.at(4));
    if (args.size() == 3 && args.at(1) == QLatin1String("recover"))
        return recover(args.at(2));
    std::fprintf(stderr, "usage: bench_recovery prepare ROOT ARCHIVE TARGET_FOLDER | recover ROOT\n");
    return 2;
}
