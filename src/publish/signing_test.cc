#include "publish/signing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "publish/objects.h"
#include "publish/publisher.h"
#include "publish/state.h"
#include "release/keys.h"
#include "release/manifest.h"
#include "base/text.h"
#include "platform/md5.h"
#include "test_util.h"

namespace publish {
namespace {

namespace fs = std::filesystem;
using testutil::readFile;
using testutil::writeFile;

void put(const std::string& root, const std::string& name, const std::string& content) {
  fs::path p = fs::path(root) / name;
  fs::create_directories(p.parent_path());
  writeFile(p.string(), content);
}

TEST(Keygen, WritesAKeyOnceAndItLoads) {
  testutil::TempDir dir;
  std::string path = dir.file("release.key"), pub, error;
  ASSERT_TRUE(makeSigningKey(path, &pub, &error)) << error;
  release::PublicKey parsed;
  EXPECT_TRUE(release::parsePublicKeyHex(pub, &parsed));
  std::string text = readFile(path);
  std::string again;
  EXPECT_FALSE(makeSigningKey(path, &again, &error));  // owner-only creation: PrivateFile
  EXPECT_EQ(readFile(path), text);

  SigningKey key;
  ASSERT_TRUE(key.load(path, &error)) << error;
  EXPECT_EQ(key.publicKeyHex(), pub);

  // A public key where the secret one belongs, a truncated file, a seed
  // that does not give the recorded public key: refused, not used.
  std::string otherPub;
  ASSERT_TRUE(makeSigningKey(dir.file("other.key"), &otherPub, &error));
  std::string mismatched = text.substr(0, text.find("public ")) + "public " + otherPub + "\n";
  for (const std::string& bad : {pub + "\n", text.substr(0, text.size() - 1), mismatched}) {
    writeFile(dir.file("bad.key"), bad);
    SigningKey k;
    EXPECT_FALSE(k.load(dir.file("bad.key"), &error));
    EXPECT_FALSE(k.loaded());
  }
  SigningKey missing;
  EXPECT_FALSE(missing.load(dir.file("nothing.key"), &error));
  EXPECT_NE(error.find("nothing.key"), std::string::npos);
}

class SignedPublishTest : public ::testing::Test {
 protected:
  SignedPublishTest() {
    release = dir.file("release");
    icons = dir.file("icons");
    out = dir.file("out");
    iconsOut = dir.file("icons-out");
    std::string pub, error;
    EXPECT_TRUE(makeSigningKey(dir.file("secret.key"), &pub, &error)) << error;
    EXPECT_TRUE(release::parsePublicKeyHex(pub, &publicKey));
    put(release, "data/a b/big.pak", std::string(200000, 'q'));
    put(release, "readme.txt", "hello");
    put(dir.path(), "build/new.exe", "MZ new launcher");
    put(icons, "7.png", "png seven");
    put(icons, "sub/8.png", "png eight");
    o.releaseDir = release;
    o.outputDir = out;
    o.iconsDir = icons;
    o.iconsOutputDir = iconsOut;
    o.launcherPath = dir.file("build/new.exe");
    o.signKeyPath = dir.file("secret.key");
    o.signTime = 1717000000;
    o.jobs = 2;
  }

  bool run(std::string* error = nullptr) {
    Progress progress;
    Refusal refusal;
    std::string e;
    bool ok = publish(o, &report, &progress, &e, &refusal);
    if (error) *error = e;
    EXPECT_TRUE(ok || error) << e;
    return ok;
  }

  std::string manifestPath() const { return out + "/" + kManifestName; }

  release::Manifest verified() {
    release::VerifyResult r = release::verifyManifest(readFile(manifestPath()), publicKey);
    EXPECT_TRUE(r.accepted()) << r.detail;
    return r.manifest;
  }

  // Every file a server would hand out, by origin and requested name.
  std::map<std::pair<release::Origin, std::string>, std::string> served() {
    std::map<std::pair<release::Origin, std::string>, std::string> files;
    for (auto [root, origin] : {std::pair(out, release::Origin::Update), std::pair(iconsOut, release::Origin::Icons)})
      for (auto& e : fs::recursive_directory_iterator(root)) {
        std::string name = fs::relative(e.path(), root).generic_string();
        bool object = name.rfind("objects/", 0) == 0 && name != release::kObjectsMarkerName;
        if (e.is_regular_file() && name.rfind(".publish-", 0) != 0 && name != kManifestName && !object)
          files[{origin, name}] = readFile(e.path().string());
      }
    return files;
  }

  void expectManifestNamesExactlyWhatIsServed() {
    release::Manifest m = verified();
    auto files = served();
    EXPECT_EQ(m.files.size(), files.size());
    for (const auto& [key, bytes] : files) {
      const release::FileEntry* e = m.find(key.first, key.second);
      ASSERT_NE(e, nullptr) << key.second;
      EXPECT_EQ(e->size, bytes.size()) << key.second;
      EXPECT_EQ(e->sha256, release::sha256Of(bytes.data(), bytes.size())) << key.second;
    }
  }

  std::string objectOf(const release::FileEntry& e) const {
    return (e.origin == release::Origin::Icons ? iconsOut : out) + "/" + release::objectName(e.sha256);
  }

  testutil::TempDir dir;
  std::string release, icons, out, iconsOut;
  release::PublicKey publicKey;
  PublishOptions o;
  PublishReport report;
};

TEST_F(SignedPublishTest, ManifestNamesEveryServedFileAndGrowsFromRunToRun) {
  ASSERT_TRUE(run());
  expectManifestNamesExactlyWhatIsServed();
  release::Manifest m = verified();
  for (auto [origin, name] :
       {std::pair(release::Origin::Update, "files.txt"), std::pair(release::Origin::Update, "TervalisOnline2D.exe"),
        std::pair(release::Origin::Icons, "clan_icons_list.txt"), std::pair(release::Origin::Icons, "sub/8.png")})
    EXPECT_NE(m.find(origin, name), nullptr) << name;
  EXPECT_EQ(m.release, 1717000000u);  // the publishing time
  EXPECT_EQ(m.expires, 1717000000 + 30 * 86400);
  EXPECT_TRUE(report.signedRelease);
  EXPECT_EQ(readFile(out + "/" + kStateFile).find("tervalis-publish-state 2\n"), 0u);

  // Same second, nothing changed: still a new, higher release.
  std::string first = readFile(manifestPath());
  ASSERT_TRUE(run());
  EXPECT_EQ(verified().release, 1717000001u);
  // A clock that went back does not lower it.
  o.signTime = 1000;
  o.expiresDays = 1;
  ASSERT_TRUE(run());
  EXPECT_EQ(verified().release, 1717000002u);
  EXPECT_EQ(verified().expires, 1000 + 86400);

  // A changed file and icon, one gone: the manifest follows, and kept outputs
  // keep their digests from the state.
  o.signTime = 1800000000;
  put(release, "readme.txt", "hello, longer");
  put(icons, "7.png", "png seven, redrawn");
  fs::remove(release + "/data/a b/big.pak");
  ASSERT_TRUE(run());
  expectManifestNamesExactlyWhatIsServed();
  EXPECT_EQ(verified().release, 1800000000u);
  EXPECT_EQ(verified().find(release::Origin::Update, "data/a b/big.pak"), nullptr);
  // Deterministic apart from the number and the expiry.
  std::string text = readFile(manifestPath());
  EXPECT_NE(text, first);
}

TEST_F(SignedPublishTest, WrittenLastAnInterruptedRunLeavesTheOldManifest) {
  ASSERT_TRUE(run());
  std::string before = readFile(manifestPath());
  // The icon list cannot be written this time: the game tree is done by then.
  put(release, "readme.txt", "new text");
  put(icons, "7.png", "new icon");
  fs::create_directories(iconsOut + "/.publish-tmp/list.tmp");
  std::string error;
  EXPECT_FALSE(run(&error));
  EXPECT_EQ(readFile(manifestPath()), before);
  fs::remove_all(iconsOut + "/.publish-tmp");
  o.signTime += 10;
  ASSERT_TRUE(run());
  expectManifestNamesExactlyWhatIsServed();
  EXPECT_EQ(verified().release, 1717000010u);
  // Nothing served is newer than it in either output (the publisher's own
  // copy of it comes after).
  auto manifestTime = fs::last_write_time(manifestPath());
  for (const std::string& root : {out, iconsOut})
    for (auto& e : fs::recursive_directory_iterator(root)) {
      if (!e.is_regular_file() || e.path().parent_path().filename() == kReleasesDir) continue;
      EXPECT_LE(e.last_write_time(), manifestTime) << e.path();
    }
}

TEST_F(SignedPublishTest, OutputsPublishedUnsignedAreHashedOnceWhenSigningStarts) {
  std::string key = o.signKeyPath;
  o.signKeyPath.clear();
  ASSERT_TRUE(run());
  EXPECT_FALSE(fs::exists(manifestPath()));
  EXPECT_FALSE(report.signedRelease);
  EXPECT_EQ(readFile(out + "/" + kStateFile).find("tervalis-publish-state 1\n"), 0u);

  o.signKeyPath = key;
  ASSERT_TRUE(run());
  expectManifestNamesExactlyWhatIsServed();
  EXPECT_EQ(report.game.count(Change::Unchanged), 3u);  // hashed, not rewritten

  // Back to unsigned: the old manifest stays, with a note that it is stale.
  std::string signedText = readFile(manifestPath());
  o.signKeyPath.clear();
  put(release, "readme.txt", "changed unsigned");
  ASSERT_TRUE(run());
  EXPECT_EQ(readFile(manifestPath()), signedText);
  ASSERT_EQ(report.notes.size(), 1u);
  EXPECT_NE(report.notes[0].find("--sign-key"), std::string::npos);
}

TEST_F(SignedPublishTest, DryRunAndBadKeysWriteNothing) {
  o.dryRun = true;
  ASSERT_TRUE(run());
  EXPECT_TRUE(report.signedRelease);
  EXPECT_EQ(report.release, 1717000000u);
  EXPECT_FALSE(fs::exists(out));

  o.dryRun = false;
  writeFile(dir.file("public.key"), "not a key\n");
  for (const std::string& key : {dir.file("public.key"), dir.file("missing.key")}) {
    o.signKeyPath = key;
    std::string error;
    EXPECT_FALSE(run(&error));
    EXPECT_NE(error.find(key), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(out));
  }
}

TEST_F(SignedPublishTest, EveryNamedFileIsAnObjectKeptForTheLastReleases) {
  o.keepReleases = 2;
  ASSERT_TRUE(run());
  release::Manifest first = verified();
  EXPECT_TRUE(release::hasObjects(first, release::Origin::Update));
  EXPECT_TRUE(release::hasObjects(first, release::Origin::Icons));
  for (const release::FileEntry& e : first.files) {
    std::string object = readFile(objectOf(e));
    EXPECT_EQ(e.sha256, release::sha256Of(object.data(), object.size())) << e.name;
#ifndef _WIN32  // Wine's link counts and ids of .exe files do not tell
    // One file system: the served file and its object are one file.
    std::string byName = (e.origin == release::Origin::Icons ? iconsOut : out) + "/" + e.name;
    EXPECT_TRUE(fs::equivalent(byName, objectOf(e))) << e.name;
#endif
  }
  EXPECT_EQ(report.objectsWritten, first.files.size());
  EXPECT_EQ(report.objectsLinked, first.files.size());
  EXPECT_EQ(report.game.purge, std::vector<std::string>{"files.txt"});  // new, where a cache may hold a 404

  // Two more releases, each changing readme.txt: its first version was only
  // in the release that is no longer kept.
  put(release, "readme.txt", "second");
  o.signTime += 10;
  ASSERT_TRUE(run());
  EXPECT_EQ(report.game.purge, (std::vector<std::string>{"files.txt", "readme.txt"}));
  EXPECT_EQ(report.objectsRemoved, 0u);
  release::Manifest second = verified();
  put(release, "readme.txt", "third");
  o.signTime += 10;
  ASSERT_TRUE(run());
  release::Manifest third = verified();
  for (const release::Manifest* m : {&second, &third})
    for (const release::FileEntry& e : m->files) EXPECT_TRUE(fs::exists(objectOf(e))) << e.name;
  for (const char* name : {"readme.txt", "files.txt"}) {
    const release::FileEntry* old = first.find(release::Origin::Update, name);
    EXPECT_FALSE(fs::exists(objectOf(*old))) << name;
  }
  EXPECT_EQ(report.objectsRemoved, 2u);
  EXPECT_EQ(std::distance(fs::directory_iterator(out + "/" + kReleasesDir), fs::directory_iterator()), 2);

  // Release files cannot take the store's place.
  put(release, "Objects/x.bin", "x");
  std::string error;
  EXPECT_FALSE(run(&error));
  EXPECT_NE(error.find("refusing 1 file"), std::string::npos) << error;
}

#ifndef _WIN32
TEST(ObjectStore, CopiesAcrossFileSystemsAreCheckedAgainstTheirDigest) {
  testutil::TempDir dir;
  struct stat here {}, shm {};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(dir.path().c_str(), &here) != 0 || here.st_dev == shm.st_dev)
    GTEST_SKIP() << "no second file system";
  fs::path other = fs::path("/dev/shm") / ("tvl-objects-" + std::to_string(::getpid()));
  fs::create_directories(other / "tmp");
  std::string bytes = "served bytes", sha = tvl::toHexLower(release::sha256Of(bytes.data(), bytes.size()).data(), 32);
  writeFile(dir.file("served"), bytes);
  platform::Md5Provider md5;
  std::string error;
  ASSERT_TRUE(md5.acquire(&error)) << error;
  ObjectFile f{other.string(), (other / "tmp").string(), dir.file("served"), bytes.size(), sha};
  ObjectCounts counts;
  EXPECT_TRUE(storeObjects({f}, md5, &counts, &error)) << error;
  EXPECT_EQ(readFile((other / objectPathOf(sha)).string()), bytes);
  EXPECT_EQ(counts.written, 1u);
  EXPECT_EQ(counts.linked, 0u);
  // A served file that no longer holds what was published for it is not
  // stored under that digest.
  writeFile(dir.file("served"), "other bytes!");
  f.sha256 = std::string(64, 'a');
  EXPECT_FALSE(storeObjects({f}, md5, &counts, &error));
  EXPECT_FALSE(fs::exists(other / objectPathOf(f.sha256)));
  fs::remove_all(other);
}
#endif

}  // namespace
}  // namespace publish
