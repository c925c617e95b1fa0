#include "update/space_check.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "base/text.h"
#include "platform/disk_space.h"
#include "platform/fs.h"
#include "transfer/paths.h"
#include "transfer/progress.h"
#include "update/fetch_queue.h"

namespace tvl {


namespace {

uint64_t roundUp(uint64_t bytes, uint64_t unit) {
  if (unit == 0 || bytes > UINT64_MAX - unit) return bytes;
  return (bytes + unit - 1) / unit * unit;
}

// Sizes come from lists as large as 2^63 - 1: sums are held at the bound
// instead of wrapping into a small need.
uint64_t addHeld(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }
int64_t asSigned(uint64_t v) { return v > uint64_t{INT64_MAX} ? INT64_MAX : static_cast<int64_t>(v); }

VolumeNeed* find(std::vector<VolumeNeed>& volumes, const std::string& name) {
  for (VolumeNeed& v : volumes)
    if (v.volume == name) return &v;
  return nullptr;
}

std::string parentOf(const std::string& path) {
  size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string(".") : path.substr(0, cut + 1);
}

}  // namespace

void addSpaceNeeds(const std::vector<SpaceItem>& items, size_t stagedAtOnce, std::vector<VolumeNeed>& volumes) {
  // Staging: the largest bodies that can wait at once, per volume.
  std::map<std::string, std::vector<uint64_t>> staged;
  for (const SpaceItem& item : items) {
    VolumeNeed* v = find(volumes, item.stagingVolume);
    if (v) staged[item.stagingVolume].push_back(roundUp(item.staged, v->unitBytes));
  }
  for (auto& s : staged) {
    std::sort(s.second.begin(), s.second.end(), [](uint64_t a, uint64_t b) { return a > b; });
    VolumeNeed* v = find(volumes, s.first);
    for (size_t i = 0; i < s.second.size() && i < stagedAtOnce; ++i) v->needBytes = addHeld(v->needBytes, s.second[i]);
  }
  // Installed files, one by one: the peak of the running sum.
  std::map<std::string, std::pair<int64_t, int64_t>> running;  // volume: sum so far, peak
  for (const SpaceItem& item : items) {
    VolumeNeed* v = find(volumes, item.volume);
    if (!v) continue;
    bool inPlace = item.moved && item.volume == item.stagingVolume;  // already counted as staged
    int64_t fresh = inPlace ? 0 : asSigned(roundUp(item.installed, v->unitBytes));
    int64_t freed = asSigned(roundUp(item.replaced, v->unitBytes));
    auto& r = running[item.volume];
    r.second = std::max(r.second, saturatingAdd(r.first, fresh));
    r.first = saturatingAdd(saturatingAdd(r.first, fresh), -freed);
  }
  for (const auto& r : running) {
    VolumeNeed* v = find(volumes, r.first);
    v->needBytes = addHeld(v->needBytes, static_cast<uint64_t>(r.second.second));
  }
}

bool checkSpaceForRun(const Updater& updater, VolumeNeed* shortage) {
  std::vector<VolumeNeed> volumes;
  std::map<std::string, std::string> volumeOfDir;
  bool known = true;
  auto volumeOf = [&](const std::string& path) -> std::string {
    std::string dir = parentOf(path);
    auto it = volumeOfDir.find(dir);
    if (it != volumeOfDir.end()) return it->second;
    platform::DiskSpace space;
    if (!platform::diskSpace(dir, &space)) {
      known = false;
      return volumeOfDir[dir] = std::string();
    }
    if (!find(volumes, space.volume)) volumes.push_back({space.volume, space.unitBytes, 0, space.freeBytes});
    return volumeOfDir[dir] = space.volume;
  };
  std::string stagingVolume = volumeOf(updater.tempFile);
  std::vector<SpaceItem> items;
  for (const FileListEntry& entry : updater.entries) {
    if (!entry.needsDownload) continue;
    std::string target = baseDir + entry.directory + entry.name;
    platform::PathInfo old = platform::pathInfo(target);
    uint64_t oldSize = old.kind == platform::PathKind::File ? old.size : 0;
    SpaceItem item;
    item.stagingVolume = stagingVolume;
    item.volume = volumeOf(target);
    item.staged = entry.size > 0 ? static_cast<uint64_t>(entry.size) : 0;
    item.moved = !entry.packed;
    item.installed = entry.packed ? std::max(item.staged, oldSize) : item.staged;
    // A new launcher waits beside the running one, which stays.
    item.replaced = entry.packed && equalsNoCase(entry.name, updater.launcherName) ? 0 : oldSize;
    items.push_back(item);
  }
  if (!known) return true;
  int connections = updater.options.connections;
  addSpaceNeeds(items, connections <= 1 ? 1 : fetchWindow(connections) + 1, volumes);
  for (const VolumeNeed& v : volumes)
    if (!v.fits()) {
      *shortage = v;
      return false;
    }
  return true;
}

}  // namespace tvl
