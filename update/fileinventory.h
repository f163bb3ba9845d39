#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>

/// What the background inventory needs, copied when the task starts so that
/// the GUI thread may change its own members meanwhile.
struct InventoryInput
{
    bool walkPc = false;        // updatePc == 1
    bool walkCard = false;      // updatePalm == 1
    QString pcRoot;             // the working folder, as the walk names it (".")
    QString cardRoot;           // card root ending with "/"
    QString languageId;         // selected language id
};

namespace FileInventory {

/// Walks the PC installation and the card's "varno" folder and returns the
/// files an installation must not lose. Returns early (with what it has) as
/// soon as stop is set.
QList<QByteArray> build(const InventoryInput &input, const std::atomic<bool> &stop);

/// The entries of inventory that no longer exist, as absolute paths.
QStringList missingFiles(const QList<QByteArray> &inventory);

} // namespace FileInventory
