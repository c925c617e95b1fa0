#include "publish/patches.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "publish/md5_test_util.h"
#include "publish/publisher.h"
#include "publish/zip_read_test_util.h"
#include "release/patch_apply.h"
#include "release/patch_list.h"
#include "test_util.h"

namespace publish {
namespace {

namespace fs = std::filesystem;
using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

std::string randomBytes(size_t n, uint64_t seed) {
  std::mt19937_64 rnd(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rnd());
  return s;
}

// `base` with a few bytes changed at `at`.
std::string edited(std::string base, size_t at, char c) {
  for (size_t i = at; i < at + 64; ++i) base[i] = c;
  return base;
}

class PatchesTest : public ::testing::Test {
 protected:
  PatchesTest() {
    std::string pack = randomBytes(1536 * 1024, 1);
    std::string fresh = randomBytes(1536 * 1024, 2);
    // Newest first: v2 is the last release, v1 the one before, v0 older.
    for (int v = 0; v <= 3; ++v) {
      std::string dir = folder(v);
      put(dir, "data/big.pak", edited(pack, 1000 + 300000 * v, static_cast<char>('a' + v)));
      put(dir, "data/fresh.pak", v == 3 ? fresh : pack);  // rewritten whole: no useful patch
      put(dir, "same.pak", pack);                          // never changes
      put(dir, "small.txt", "version " + std::to_string(v));
    }
    o.releaseDir = folder(3);
    o.outputDir = out = dir.file("out");
    o.previousDirs = {folder(2), folder(1), folder(0)};
    o.patchVersions = 2;
    o.fixedStamp = true;
    o.stamp = 1700000000;
    o.jobs = 2;
  }

  std::string folder(int v) { return dir.file("v" + std::to_string(v)); }

  void put(const std::string& root, const std::string& name, const std::string& content) {
    fs::path p = fs::path(root) / name;
    fs::create_directories(p.parent_path());
    writeFile(p.string(), content);
  }

  bool run(std::string* error = nullptr) {
    Progress progress;
    std::string e;
    Refusal refusal;
    bool ok = publish(o, &report, &progress, &e, &refusal);
    if (error) *error = e;
    EXPECT_TRUE(ok || error) << e;
    return ok;
  }

  std::vector<release::PatchEntry> list(const std::string& name = "patches.txt") {
    Member m = readArchive(out + "/" + name);
    EXPECT_EQ(m.name, name);
    std::vector<release::PatchEntry> entries;
    std::string error;
    EXPECT_TRUE(release::parsePatchList(m.data.data(), m.data.size(), &entries, &error, release::kMaxPiecePatchSize))
        << error;
    return entries;
  }

  TempDir dir;
  std::string out;
  PublishOptions o;
  PublishReport report;
};

TEST_F(PatchesTest, PatchesTheNewestEarlierVersionsOfLargeChangedFiles) {
  ASSERT_TRUE(run());
  EXPECT_EQ(report.patches.listed, 2u);
  EXPECT_EQ(report.patches.made, 2u);
  EXPECT_EQ(report.patches.tooLarge, 1u);  // fresh.pak
  std::vector<release::PatchEntry> entries = list();
  ASSERT_EQ(entries.size(), 2u);
  std::string target = readFile(folder(3) + "/data/big.pak");
  for (size_t i = 0; i < 2; ++i) {
    // From v2, then v1; v0 is one version too many.
    const release::PatchEntry& e = entries[i];
    std::string base = folder(2 - static_cast<int>(i)) + "/data/big.pak";
    EXPECT_EQ(e.name, "data/big.pak");
    EXPECT_EQ(e.baseMd5, md5Of(readFile(base)));
    EXPECT_EQ(e.targetMd5, md5Of(target));
    EXPECT_EQ(e.size, fs::file_size(out + "/" + e.path));
    EXPECT_LT(e.size, 4096u);
    release::PatchApplyResult r =
        release::applyPatch(md5Provider(), base, out + "/" + e.path, dir.file("applied"), e.targetMd5);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(readFile(dir.file("applied")), target);
  }
}

TEST_F(PatchesTest, LaterRunsRedoNothingAndEqualInputsGiveEqualBytes) {
  ASSERT_TRUE(run());
  auto listTime = fs::last_write_time(out + "/patches.txt");
  fs::last_write_time(out + "/patches.txt", listTime - std::chrono::hours(1));
  ASSERT_TRUE(run());
  EXPECT_EQ(report.patches.made, 0u);  // neither the kept ones nor the one too large
  EXPECT_EQ(report.patches.listed, 2u);
  EXPECT_EQ(report.patches.tooLarge, 1u);
  EXPECT_FALSE(report.patches.listChanged);
  EXPECT_LT(fs::last_write_time(out + "/patches.txt"), listTime);

  std::string first = out;
  o.outputDir = out = dir.file("again");
  ASSERT_TRUE(run());
  EXPECT_EQ(readFile(out + "/patches.txt"), readFile(first + "/patches.txt"));
  for (const release::PatchEntry& e : list())
    EXPECT_EQ(readFile(out + "/" + e.path), readFile(first + "/" + e.path)) << e.path;
}

// Files larger than the piece size: their patches are made in pieces and
// listed apart, remembered like the others, and give way to single-frame
// patches when the piece size goes back to its default.
TEST_F(PatchesTest, PiecePatchesAreListedApartKeptAndTakenAway) {
  o.patchPieceSize = 256 << 10;
  ASSERT_TRUE(run());
  EXPECT_FALSE(fs::exists(out + "/patches.txt"));
  std::vector<release::PatchEntry> entries = list("piece_patches.txt");
  ASSERT_EQ(entries.size(), 2u);
  for (const release::PatchEntry& e : entries) {
    EXPECT_EQ(e.path.substr(e.path.size() - 4), ".zsp");
    release::PatchApplyResult r = release::applyPatch(md5Provider(), folder(2) + "/data/big.pak", out + "/" + e.path,
                                                      dir.file("applied"), e.targetMd5);
    if (e.baseMd5 != md5Of(readFile(folder(2) + "/data/big.pak"))) continue;
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(r.pieces, 6u);  // 1.5 MiB in pieces of 256 KiB
    EXPECT_EQ(readFile(dir.file("applied")), readFile(folder(3) + "/data/big.pak"));
  }
  ASSERT_TRUE(run());
  EXPECT_EQ(report.patches.made, 0u);
  EXPECT_FALSE(report.patches.listChanged);

  o.patchPieceSize = 0;
  ASSERT_TRUE(run());
  EXPECT_EQ(report.patches.made, 2u);
  EXPECT_FALSE(fs::exists(out + "/piece_patches.txt"));
  for (const release::PatchEntry& e : entries) EXPECT_FALSE(fs::exists(out + "/" + e.path)) << e.path;
  EXPECT_EQ(list().size(), 2u);
}

TEST_F(PatchesTest, ANewTargetReplacesOldPatchesAndNoPreviousRemovesAll) {
  ASSERT_TRUE(run());
  std::vector<release::PatchEntry> before = list();
  put(folder(3), "data/big.pak", edited(readFile(folder(3) + "/data/big.pak"), 900000, 'z'));
  ASSERT_TRUE(run());
  std::vector<release::PatchEntry> after = list();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_NE(after[0].targetMd5, before[0].targetMd5);
  for (const release::PatchEntry& e : before) EXPECT_FALSE(fs::exists(out + "/" + e.path)) << e.path;

  o.previousDirs.clear();
  ASSERT_TRUE(run());
  EXPECT_TRUE(report.patches.listChanged);
  for (const char* gone : {"patches.txt", "patches", ".publish-patches"}) EXPECT_FALSE(fs::exists(out + "/" + gone));
  EXPECT_TRUE(fs::exists(out + "/files.txt"));
}

TEST_F(PatchesTest, RefusesNamesThePatchesNeedAndMissingFolders) {
  put(folder(3), "Patches/readme.txt", "mine");
  std::string error;
  EXPECT_FALSE(run(&error));
  o.previousDirs.clear();  // without patches the name is free
  EXPECT_TRUE(run());
  o.previousDirs = {dir.file("nowhere")};
  EXPECT_FALSE(run(&error));
  EXPECT_NE(error.find("nowhere"), std::string::npos);
}

}  // namespace
}  // namespace publish
