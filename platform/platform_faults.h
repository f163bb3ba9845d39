#pragma once

#include <QString>

/// Inside the platform layer only: the read-back fault of the tests.
namespace PlatformFaults {

/// True when UPDATE_HUB_FAULT_FLIP is set and path contains its text: the
/// read-back of that file then hands over its first byte changed, as a card
/// that lost a bit would.
bool flipsReadBack(const QString &path);

/// The cluster size UPDATE_HUB_FAULT_CLUSTER_SIZE gives, or 0. A card image
/// mounted through a FUSE driver reports a block size of its own rather than
/// the image's clusters; the tests that use one give the true size here.
qint64 clusterSize();

} // namespace PlatformFaults
