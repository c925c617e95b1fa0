#include "release/patch_apply.h"

#include <gtest/gtest.h>

#include <random>

#include <zstd.h>

#include "release/patch_make.h"
#include "platform/md5.h"
#include "test_util.h"

namespace release {
namespace {

using testutil::exists;
using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

std::string randomBytes(size_t n, uint64_t seed) {
  std::mt19937_64 rnd(seed);
  std::string s(n, '\0');
  for (size_t i = 0; i < n; i += 8) {
    uint64_t v = rnd();
    for (size_t j = 0; j < 8 && i + j < n; ++j) s[i + j] = static_cast<char>(v >> (8 * j));
  }
  return s;
}

const platform::Md5Provider& provider() {
  static platform::Md5Provider p = [] {
    platform::Md5Provider q;
    q.acquire();
    return q;
  }();
  return p;
}

std::string md5Of(const std::string& bytes) { return platform::md5HexOf(provider(), bytes.data(), bytes.size()); }

class PatchApplyTest : public ::testing::Test {
 protected:
  PatchApplyTest() {
    // Half incompressible, half text-like, so the patch has both kinds to match.
    std::string text;
    std::mt19937_64 rnd(7);
    while (text.size() < (2u << 20)) text += "word" + std::to_string(rnd() % 5000) + " ";
    v1 = randomBytes(2u << 20, 1) + text.substr(0, 2u << 20);
    // Scattered changes, and a block inserted near the start.
    v2 = v1;
    for (size_t at = 100000; at + 300 < v2.size(); at += 400000) v2.replace(at, 300, randomBytes(300, at));
    v2.insert(5000, randomBytes(20000, 9));
    writeFile(dir.file("v1"), v1);
    writeFile(dir.file("v2"), v2);
  }

  // Makes the patch v1 -> v2 (or from/to the named files).
  std::string make(const std::string& base = "v1", const std::string& target = "v2") {
    PatchMakeResult r;
    std::string error;
    EXPECT_TRUE(makePatch(dir.file(base), dir.file(target), dir.file("patch"), UINT64_MAX, &r, &error)) << error;
    EXPECT_FALSE(r.tooLarge);
    std::string bytes = readFile(dir.file("patch"));
    EXPECT_EQ(bytes.size(), r.size);
    return bytes;
  }

  PatchApplyResult apply(const std::string& patch, const std::string& base = "v1") {
    writeFile(dir.file("patch"), patch);
    return applyPatch(provider(), dir.file(base), dir.file("patch"), dir.file("out"), md5Of(v2));
  }

  TempDir dir;
  std::string v1, v2;
};

TEST_F(PatchApplyTest, AppliesWhatWasMade) {
  std::string patch = make();
  EXPECT_LT(patch.size(), v2.size() / 50) << "the unchanged parts are not in the patch";
  EXPECT_EQ(make(), patch) << "equal inputs give equal bytes";
  uint64_t lastDone = 0, calls = 0;
  PatchApplyResult r = applyPatch(provider(), dir.file("v1"), dir.file("patch"), dir.file("out"), md5Of(v2),
                                  [&](uint64_t done, uint64_t total) {
                                    EXPECT_GT(done, lastDone);
                                    EXPECT_EQ(total, v2.size());
                                    lastDone = done;
                                    ++calls;
                                    return true;
                                  });
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(readFile(dir.file("out")), v2);
  EXPECT_EQ(r.md5, md5Of(v2));
  EXPECT_EQ(r.outputSize, v2.size());
  EXPECT_EQ(lastDone, v2.size());
  EXPECT_GT(calls, 1u);
  // The output is a mapped file: the decoder's own memory does not grow
  // with it.
  EXPECT_GT(r.peakMemory, 0u);
  EXPECT_LT(r.peakMemory, 1u << 20);
}

TEST_F(PatchApplyTest, FindsMovedPartsAnywhereInTheBase) {
  // The halves swapped: every match lies a whole file away.
  writeFile(dir.file("swapped"), v1.substr(v1.size() / 2) + v1.substr(0, v1.size() / 2));
  EXPECT_LT(make("v1", "swapped").size(), v1.size() / 100);
}

TEST_F(PatchApplyTest, FailuresLeaveNoOutput) {
  std::string patch = make();
  std::string damaged = patch;
  for (size_t i = damaged.size() / 3; i < damaged.size() / 3 + 16; ++i) damaged[i] = static_cast<char>(~damaged[i]);
  writeFile(dir.file("other"), randomBytes(v1.size(), 99));
  struct Case {
    const char* what;
    std::string patch;
    std::string base;
    PatchFailure failure;
  } cases[] = {
      {"damaged", damaged, "v1", PatchFailure::DoesNotApply},
      {"wrong base", patch, "other", PatchFailure::WrongResult},
      {"missing base", patch, "absent", PatchFailure::MissingBase},
      {"truncated", patch.substr(0, patch.size() - 100), "v1", PatchFailure::DoesNotApply},
      {"header only", patch.substr(0, 20), "v1", PatchFailure::DoesNotApply},
      {"trailing bytes", patch + "x", "v1", PatchFailure::DoesNotApply},
      {"not a patch", v2.substr(0, 4096), "v1", PatchFailure::DoesNotApply},
  };
  for (const Case& c : cases) {
    writeFile(dir.file("out"), "stale");
    PatchApplyResult r = apply(c.patch, c.base);
    // Damage can also decode to other bytes; either way nothing wrong is kept.
    if (c.failure == PatchFailure::DoesNotApply && r.failure == PatchFailure::WrongResult) r.failure = c.failure;
    EXPECT_EQ(r.failure, c.failure) << c.what << ": " << r.message;
    EXPECT_FALSE(r.message.empty()) << c.what;
    EXPECT_FALSE(exists(dir.file("out"))) << c.what;
  }
  // Wrong target digest: applied fine, but not what the list wants.
  writeFile(dir.file("patch"), patch);
  PatchApplyResult r = applyPatch(provider(), dir.file("v1"), dir.file("patch"), dir.file("out"), md5Of(v1));
  EXPECT_EQ(r.failure, PatchFailure::WrongResult);
  EXPECT_FALSE(exists(dir.file("out")));
}

TEST_F(PatchApplyTest, WriteErrorAndCancel) {
  make();
  PatchApplyResult r =
      applyPatch(provider(), dir.file("v1"), dir.file("patch"), dir.file("no/such/dir/out"), md5Of(v2));
  EXPECT_EQ(r.failure, PatchFailure::WriteError);
  r = applyPatch(provider(), dir.file("v1"), dir.file("patch"), dir.file("out"), md5Of(v2),
                 [](uint64_t done, uint64_t) { return done < (1u << 20); });
  EXPECT_EQ(r.failure, PatchFailure::Cancelled);
  EXPECT_FALSE(exists(dir.file("out")));
}

TEST_F(PatchApplyTest, MakeStopsAtTheSizeLimit) {
  writeFile(dir.file("fresh"), randomBytes(1u << 20, 5));  // nothing in common with v1
  PatchMakeResult r;
  std::string error;
  ASSERT_TRUE(makePatch(dir.file("v1"), dir.file("fresh"), dir.file("p2"), 512 * 1024, &r, &error)) << error;
  EXPECT_TRUE(r.tooLarge);
  EXPECT_FALSE(exists(dir.file("p2")));
  EXPECT_FALSE(makePatch(dir.file("absent"), dir.file("fresh"), dir.file("p2"), UINT64_MAX, &r, &error));
  EXPECT_NE(error.find("absent"), std::string::npos);
}

TEST(PieceSize, OneFrameUpToItsLimitPiecesAbove) {
  const uint64_t P = 1u << 20;
  struct Case {
    uint64_t base, target, option, pieces;
  } cases[] = {
      {kMaxPatchedFileSize, 1, 0, 0},
      {1, kMaxPatchedFileSize + 1, 0, kDefaultPieceSize},
      {6ull << 30, 6ull << 30, 0, kDefaultPieceSize},
      {P, P, P, 0},
      {P + 1, 10, P, P},
      {10, P + 1, P, P},
  };
  for (const Case& c : cases) EXPECT_EQ(pieceSizeFor(c.base, c.target, c.option), c.pieces) << c.base << " " << c.target;
}

// Patches in pieces of kMinPieceSize over files of a few pieces: a change
// anywhere, and content moved across piece boundaries, still makes a small
// patch that rebuilds the file exactly.
class PiecePatchTest : public PatchApplyTest {
 protected:
  static constexpr size_t P = kMinPieceSize;
  std::string makePieces(const std::string& target, PatchMakeResult* r) {
    writeFile(dir.file("target"), target);
    std::string error;
    EXPECT_TRUE(makePatch(dir.file("base"), dir.file("target"), dir.file("patch"), UINT64_MAX, r, &error, {}, P))
        << error;
    return readFile(dir.file("patch"));
  }
  PatchApplyResult applyPieces(const std::string& patch, const std::string& target) {
    writeFile(dir.file("patch"), patch);
    return applyPatch(provider(), dir.file("base"), dir.file("patch"), dir.file("out"), md5Of(target));
  }
};

TEST_F(PiecePatchTest, ChangesAtEveryPlaceRebuildTheFile) {
  const std::string base = randomBytes(5 * P + 1234, 3);  // five pieces and a bit
  writeFile(dir.file("base"), base);
  auto changed = [&](size_t at) { return std::string(base).replace(at, 100, randomBytes(100, at)); };
  struct Case {
    const char* what;
    std::string target;
    size_t fresh;  // new incompressible bytes in it
  } cases[] = {
      {"first piece", changed(10), 100},
      {"middle piece", changed(2 * P + 500), 100},
      {"last piece", changed(base.size() - 150), 100},
      {"across a boundary", changed(3 * P - 50), 100},
      {"shrinks across a boundary", std::string(base).erase(P - 3000, 7000), 0},
      {"grows across a boundary", std::string(base).insert(2 * P - 100, randomBytes(9000, 4)), 9000},
      {"grows by more than a piece", base + std::string(P + 10, 'z'), 0},
      {"shrinks by more than a piece", base.substr(0, 3 * P + 17), 0},
      {"moved by up to half a piece", randomBytes(P / 2 - 200, 5) + base, P / 2 - 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PatchMakeResult made;
    std::string patch = makePieces(c.target, &made);
    EXPECT_EQ(made.pieceSize, P);
    // Every piece found its part of the base: what the patch holds is
    // about the change, not the file.
    EXPECT_LT(patch.size(), c.fresh + 2000);
    PatchApplyResult r = applyPieces(patch, c.target);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(r.pieces, (c.target.size() + P - 1) / P);
    EXPECT_EQ(readFile(dir.file("out")), c.target);
    EXPECT_LT(r.peakMemory, 1u << 20);
  }
}

TEST_F(PiecePatchTest, AlteredPatchesLeaveNoOutput) {
  const std::string base = randomBytes(4 * P, 6);
  writeFile(dir.file("base"), base);
  const std::string target = std::string(base).replace(P + 10, 100, randomBytes(100, 7));
  PatchMakeResult made;
  const std::string patch = makePieces(target, &made);
  // The frames' places, behind the header.
  std::vector<size_t> frames;
  for (size_t at = kPieceHeaderSize; at < patch.size(); at += ZSTD_findFrameCompressedSize(patch.data() + at, patch.size() - at))
    frames.push_back(at);
  ASSERT_EQ(frames.size(), 4u);
  auto withLe = [&](size_t at, uint64_t v) {
    std::string p = patch;
    for (int i = 0; i < 8; ++i) p[at + i] = static_cast<char>(v >> (8 * i));
    return p;
  };
  std::string flipped = patch;
  flipped[frames[1] + (frames[2] - frames[1]) / 2] ^= 0x55;
  struct Case {
    const char* what;
    std::string patch;
  } cases[] = {
      {"a byte of the second piece changed", flipped},
      {"a piece left out", patch.substr(0, frames[2]) + patch.substr(frames[3])},
      {"two pieces swapped", patch.substr(0, frames[1]) + patch.substr(frames[2], frames[3] - frames[2]) +
                                 patch.substr(frames[1], frames[2] - frames[1]) + patch.substr(frames[3])},
      {"the last piece cut short", patch.substr(0, patch.size() - 5)},
      {"the header only", patch.substr(0, kPieceHeaderSize)},
      {"bytes after the end", patch + "x"},
      {"another piece size", withLe(16, 2 * P)},
      {"a piece size below the limit", withLe(16, P / 2)},
      {"another base size", withLe(24, base.size() + 1)},
      {"another target size", withLe(32, target.size() - 1)},
      {"the marker changed", std::string(patch).replace(8, 8, "TVLPIECF")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(dir.file("out"), "stale");
    PatchApplyResult r = applyPieces(c.patch, target);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.failure == PatchFailure::DoesNotApply || r.failure == PatchFailure::WrongResult) << r.message;
    EXPECT_FALSE(r.message.empty());
    EXPECT_FALSE(exists(dir.file("out")));
  }
  EXPECT_TRUE(applyPieces(patch, target).ok()) << "the unaltered patch applies";
}

}  // namespace
}  // namespace release
