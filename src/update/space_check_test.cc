#include "update/space_check.h"

#include <gtest/gtest.h>

#include <vector>

namespace tvl {


namespace {

constexpr uint64_t kUnit = 4096;

SpaceItem packed(const char* volume, uint64_t staged, uint64_t installed, uint64_t replaced) {
  return SpaceItem{"C", volume, staged, installed, replaced, false};
}

SpaceItem plain(const char* volume, uint64_t size, uint64_t replaced) {
  return SpaceItem{"C", volume, size, size, replaced, true};
}

TEST(SpaceCheck, NeedPerVolume) {
  struct Case {
    const char* what;
    std::vector<SpaceItem> items;
    size_t stagedAtOnce;
    uint64_t needC, needD;  // in units
  } cases[] = {
      {"nothing to fetch", {}, 1, 0, 0},
      {"sizes round up to whole units", {packed("C", 1, 1, 0)}, 1, 2, 0},
      {"a new file: its body and its content", {packed("C", 10 * kUnit, 30 * kUnit, 0)}, 1, 40, 0},
      {"a replaced file is freed only after its install",
       {packed("C", kUnit, 10 * kUnit, 10 * kUnit), packed("C", kUnit, 10 * kUnit, 10 * kUnit)}, 1, 11, 0},
      {"freed room makes room for later files",
       {packed("C", kUnit, kUnit, 20 * kUnit), packed("C", kUnit, 15 * kUnit, 0)}, 1, 2, 0},
      {"growth adds up", {packed("C", kUnit, 5 * kUnit, 2 * kUnit), packed("C", kUnit, 5 * kUnit, 2 * kUnit)}, 1,
       9, 0},
      {"the peak, not the end", {packed("C", kUnit, 8 * kUnit, 0), packed("C", kUnit, kUnit, 8 * kUnit)}, 1, 10, 0},
      {"one connection stages the largest body only",
       {packed("C", 3 * kUnit, 0, 0), packed("C", 7 * kUnit, 0, 0), packed("C", 5 * kUnit, 0, 0)}, 1, 7, 0},
      {"more connections stage several",
       {packed("C", 3 * kUnit, 0, 0), packed("C", 7 * kUnit, 0, 0), packed("C", 5 * kUnit, 0, 0)}, 2, 12, 0},
      {"a plain file is moved, not copied", {plain("C", 6 * kUnit, 0)}, 1, 6, 0},
      {"a plain file to another volume is copied there", {plain("D", 6 * kUnit, 0)}, 1, 6, 6},
      {"a packed file on another volume", {packed("D", 2 * kUnit, 9 * kUnit, 4 * kUnit)}, 1, 2, 9},
  };
  for (const Case& c : cases) {
    std::vector<VolumeNeed> volumes = {{"C", kUnit, 0, 0}, {"D", kUnit, 0, 0}};
    addSpaceNeeds(c.items, c.stagedAtOnce, volumes);
    EXPECT_EQ(volumes[0].needBytes, c.needC * kUnit) << c.what;
    EXPECT_EQ(volumes[1].needBytes, c.needD * kUnit) << c.what;
  }
}

TEST(SpaceCheck, HugeListedSizesHoldTheNeedAtItsBound) {
  // A list may name sizes up to 2^63 - 1: a sum that wrapped would look small.
  const uint64_t huge = INT64_MAX;
  const std::vector<SpaceItem> items(4, packed("C", huge, huge, 0));
  for (size_t atOnce : {1, 4}) {
    std::vector<VolumeNeed> volumes = {{"C", kUnit, 0, 0}};
    addSpaceNeeds(items, atOnce, volumes);
    EXPECT_EQ(volumes[0].needBytes, UINT64_MAX) << atOnce;
  }
}

TEST(SpaceCheck, ExactlyEnoughFits) {
  VolumeNeed v{"C", kUnit, 10 * kUnit, 10 * kUnit};
  EXPECT_TRUE(v.fits());
  v.freeBytes -= 1;
  EXPECT_FALSE(v.fits());
}

}  // namespace

}  // namespace tvl
