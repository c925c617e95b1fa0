// Room on disk for a run, checked after the local checks and before any
// file is requested, so that a disk too small ends the run before it
// starts instead of halfway through.
//
// The rule (each file rounded up to whole allocation units of its volume):
//   - staging: the largest staged files that can wait on disk at once, the
//     fetched body of each file (its list size: the archive for a packed
//     file). One at a time on one connection; with more, the files the
//     fetchers may run ahead (fetchWindow) plus the one being installed.
//     Partials already on disk are counted again in full.
//   - installed files, in list order, one by one: while a file is written,
//     its new version stands beside the old one, and the old one's room
//     counts as free only once the new one is in its place. The need is
//     the highest point that running sum reaches. A new launcher waits as
//     ".new" beside the running one, which is not freed in this run.
//   - a plain file is moved from staging into place: no more room on the
//     staging volume, its size on another volume.
//   - the size a packed file unpacks to is not known before its archive
//     arrives: it is taken as the larger of the archive's size and the
//     installed version's. Each archive's own sizes are checked against the
//     free space again before it is unpacked (installFetchedFile).
// Patches are planned after this check; a patch's staging is taken to be
// no larger than the whole file it stands for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/updater.h"

namespace tvl {


// One file the run fetches, in install order.
struct SpaceItem {
  std::string stagingVolume;  // where its body is staged
  std::string volume;         // where it is installed
  uint64_t staged = 0;        // bytes fetched
  uint64_t installed = 0;     // bytes of the new version
  uint64_t replaced = 0;      // bytes of the version it replaces; 0 when none or kept
  bool moved = false;         // a plain file: the staged file itself is moved into place
};

struct VolumeNeed {
  std::string volume;
  uint64_t unitBytes = 4096;
  uint64_t needBytes = 0;
  uint64_t freeBytes = 0;
  bool fits() const { return needBytes <= freeBytes; }
};

// The need on each volume, for volumes as given (unitBytes and freeBytes
// filled; needBytes is added to). stagedAtOnce: how many staged files can
// wait on disk at the same time.
void addSpaceNeeds(const std::vector<SpaceItem>& items, size_t stagedAtOnce, std::vector<VolumeNeed>& volumes);

// The run's check over updater.entries marked needsDownload: true when
// every volume has room (or when the system cannot tell: nothing is refused
// on a guess); otherwise *shortage names the first volume that does not.
bool checkSpaceForRun(const Updater& updater, VolumeNeed* shortage);

}  // namespace tvl
