#include "publish/publisher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "publish/md5_test_util.h"
#include "publish/signing.h"
#include "publish/state.h"
#include "publish/zip_read_test_util.h"
#include "test_util.h"

namespace publish {
namespace {

namespace fs = std::filesystem;
using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

void put(const std::string& root, const std::string& name, const std::string& content) {
  fs::path p = fs::u8path(root) / fs::u8path(name);
  fs::create_directories(p.parent_path());
  writeFile(p.string(), content);
}

// The list as the launcher reads it: name -> the other four fields.
std::map<std::string, std::vector<std::string>> entries(const std::string& text) {
  std::map<std::string, std::vector<std::string>> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) break;
    std::string line = text.substr(pos, end - pos);
    std::vector<std::string> f;
    size_t s = 0;
    for (size_t tab; (tab = line.find('\t', s)) != std::string::npos; s = tab + 1) f.push_back(line.substr(s, tab - s));
    f.push_back(line.substr(s));
    if (f.size() == 5) out[f[0]] = {f[1], f[2], f[3], f[4]};
    pos = end + 2;
  }
  return out;
}

class PublisherTest : public ::testing::Test {
 protected:
  PublisherTest() {
    release = dir.file("release");
    out = dir.file("out");
    fs::create_directories(release);
    o.releaseDir = release;
    o.outputDir = out;
    o.jobs = 2;
  }

  bool run(std::string* error = nullptr) {
    Progress progress;
    std::string e;
    refusal = Refusal();
    bool ok = publish(o, &report, &progress, &e, &refusal);
    if (error) *error = e;
    EXPECT_TRUE(ok || error) << e;
    return ok;
  }

  std::map<Change, size_t> counts(const TreeReport& r) {
    return {{Change::Added, r.count(Change::Added)},
            {Change::Changed, r.count(Change::Changed)},
            {Change::Removed, r.count(Change::Removed)},
            {Change::Unchanged, r.count(Change::Unchanged)}};
  }

  std::string served(const std::string& name) { return readArchive(fs::path(out + "/" + name).string()).data; }

  // Backdates every output so a rewrite shows as a fresh modification time.
  void backdateOutputs(const std::string& root = "") {
    for (auto& e : fs::recursive_directory_iterator(root.empty() ? out : root))
      if (e.is_regular_file()) fs::last_write_time(e.path(), fs::file_time_type::clock::now() - std::chrono::hours(24));
  }
  bool rewritten(const std::string& name) {
    return fs::last_write_time(out + "/" + name) > fs::file_time_type::clock::now() - std::chrono::hours(1);
  }

  TempDir dir;
  std::string release, out;
  PublishOptions o;
  PublishReport report;
  Refusal refusal;
};

TEST_F(PublisherTest, FirstRunServesEveryFileAndTheList) {
  std::string big(300000, 'q');
  put(release, "TervalisOnline2D.exe", "MZ launcher");
  put(release, "data/a b/big.pak", big);
  put(release, "empty", "");
  o.releaseLabel = "2.5 beta";
  o.fixedStamp = true;
  o.stamp = 1700000000;
  ASSERT_TRUE(run());
  EXPECT_EQ(report.game.count(Change::Added), 3u);
  EXPECT_TRUE(report.game.listChanged);

  Member list = readArchive(out + "/files.txt");
  EXPECT_EQ(list.count, 1);
  EXPECT_EQ(list.name, "files.txt");
  auto e = entries(list.data);
  ASSERT_EQ(e.size(), 3u);
  // The size column is the served archive's size: the launcher's progress bar
  // counts received bytes.
  EXPECT_EQ(e["data/a b/big.pak"], (std::vector<std::string>{"2.5 beta", "2023-11-14T22:13:20Z",
                                                              std::to_string(readFile(out + "/data/a b/big.pak").size()),
                                                              md5Of(big)}));
  EXPECT_EQ(e["empty"][2], std::to_string(readFile(out + "/empty").size()));
  // Sorted by name, one CR LF line each.
  EXPECT_EQ(list.data.find("TervalisOnline2D.exe\t"), 0u);

  for (const char* name : {"TervalisOnline2D.exe", "data/a b/big.pak", "empty"}) {
    Member m = readArchive(out + "/" + name);
    EXPECT_EQ(m.count, 1) << name;
    EXPECT_EQ(m.name, name);
    EXPECT_EQ(m.closeResult, 0);
  }
  EXPECT_EQ(served("data/a b/big.pak"), big);
  EXPECT_EQ(readArchive(out + "/data/a b/big.pak").method, 8);
  EXPECT_TRUE(fs::exists(out + "/" + kStateFile));
  EXPECT_FALSE(fs::exists(out + "/.publish-tmp"));
}

// The split by size, with a small limit: by the file's size and by its
// archive's; the large list goes as soon as no file needs it, leaving the
// tree as one that never had one.
TEST_F(PublisherTest, LargeFilesAreListedApart) {
  std::string noise;
  for (uint32_t x = 1; noise.size() < 900; x = x * 1103515245u + 12345u) noise += static_cast<char>(x >> 23);
  put(release, "small.txt", "small");
  put(release, "big.pak", std::string(5000, 'b'));  // over by its size, its archive small
  put(release, "noise.bin", noise);                  // under by its size, over by its stored archive
  o.largeFileSize = 1000;
  o.fixedStamp = true;
  o.stamp = 1700000000;
  std::string pub, error;
  ASSERT_TRUE(makeSigningKey(dir.file("k.key"), &pub, &error)) << error;
  o.signKeyPath = dir.file("k.key");
  ASSERT_TRUE(run());
  EXPECT_EQ(entries(served("files.txt")).count("small.txt"), 1u);
  EXPECT_EQ(entries(served("files.txt")).size(), 1u);
  auto large = entries(served("files-large.txt"));
  ASSERT_EQ(large.size(), 2u);
  EXPECT_EQ(large["big.pak"][3], md5Of(std::string(5000, 'b')));
  EXPECT_EQ(large["noise.bin"][2], std::to_string(readFile(out + "/noise.bin").size()));
  EXPECT_EQ(report.game.largeCount, 2u);
  std::string manifest = readFile(out + "/release.sig");
  EXPECT_NE(manifest.find("\t" + std::to_string(readFile(out + "/files-large.txt").size()) + "\t"), std::string::npos);
  EXPECT_NE(manifest.find("\tfiles-large.txt\n"), std::string::npos);

  backdateOutputs();
  ASSERT_TRUE(run());
  EXPECT_FALSE(report.game.largeListChanged);
  EXPECT_FALSE(rewritten("files-large.txt"));

  fs::remove(release + "/big.pak");
  fs::remove(release + "/noise.bin");
  o.signKeyPath.clear();
  ASSERT_TRUE(run());
  EXPECT_TRUE(report.game.largeListChanged);
  EXPECT_FALSE(fs::exists(out + "/files-large.txt"));
  std::string shrunk = readFile(out + "/files.txt");
  o.outputDir = dir.file("fresh");
  o.largeFileSize = release::kMaxSmallFileSize;
  ASSERT_TRUE(run());
  EXPECT_EQ(readFile(o.outputDir + "/files.txt"), shrunk);
  EXPECT_FALSE(fs::exists(o.outputDir + "/files-large.txt"));
}

TEST_F(PublisherTest, LaterRunsRewriteOnlyWhatChanged) {
  put(release, "keep.txt", "same");
  put(release, "edit.txt", "old!");
  put(release, "gone/deep/x.txt", "bye");
  put(release, "gone/also.txt", "bye too");
  ASSERT_TRUE(run());
  backdateOutputs();

  ASSERT_TRUE(run());
  EXPECT_EQ(counts(report.game)[Change::Unchanged], 4u);
  EXPECT_FALSE(report.game.listChanged);
  for (const char* name : {"keep.txt", "edit.txt", "files.txt", ".publish-state"}) EXPECT_FALSE(rewritten(name)) << name;

  put(release, "edit.txt", "new!");  // same size, new content and time
  fs::last_write_time(release + "/edit.txt", fs::last_write_time(release + "/edit.txt") + std::chrono::seconds(5));
  put(release, "added.txt", "hello");
  fs::remove_all(release + "/gone");
  ASSERT_TRUE(run());
  auto c = counts(report.game);
  EXPECT_EQ(c[Change::Added], 1u);
  EXPECT_EQ(c[Change::Changed], 1u);
  EXPECT_EQ(c[Change::Removed], 2u);
  EXPECT_EQ(c[Change::Unchanged], 1u);
  EXPECT_FALSE(rewritten("keep.txt"));
  EXPECT_TRUE(rewritten("edit.txt"));
  EXPECT_TRUE(rewritten("files.txt"));
  EXPECT_EQ(served("edit.txt"), "new!");
  EXPECT_FALSE(fs::exists(out + "/gone"));  // emptied directories go too
  auto e = entries(readArchive(out + "/files.txt").data);
  EXPECT_EQ(e.size(), 3u);
  EXPECT_EQ(e["edit.txt"][3], md5Of("new!"));
}

TEST_F(PublisherTest, TouchedFilesAreHashedAndRepackedOnlyWhenTheirTimeIsPublished) {
  put(release, "a.txt", "content");
  ASSERT_TRUE(run());
  backdateOutputs();
  auto touch = [&] {
    fs::last_write_time(release + "/a.txt", fs::last_write_time(release + "/a.txt") + std::chrono::seconds(10));
  };
  // The file's time is in the archive and the list: both follow it.
  touch();
  ASSERT_TRUE(run());
  EXPECT_EQ(report.game.count(Change::Changed), 1u);
  EXPECT_TRUE(rewritten("a.txt"));

  // With a fixed date only the content counts: hashed, found equal, kept.
  o.fixedStamp = true;
  o.stamp = 1600000000;
  ASSERT_TRUE(run());
  backdateOutputs();
  touch();
  ASSERT_TRUE(run());
  EXPECT_EQ(report.game.count(Change::Unchanged), 1u);
  EXPECT_FALSE(rewritten("a.txt"));
  EXPECT_FALSE(rewritten("files.txt"));
  // Same size, other content, same time: only --rehash can see it.
  auto t = fs::last_write_time(release + "/a.txt");
  put(release, "a.txt", "CONTENT");
  fs::last_write_time(release + "/a.txt", t);
  ASSERT_TRUE(run());
  EXPECT_EQ(served("a.txt"), "content");
  o.rehash = true;
  ASSERT_TRUE(run());
  EXPECT_EQ(report.game.count(Change::Changed), 1u);
  EXPECT_EQ(served("a.txt"), "CONTENT");
}

TEST_F(PublisherTest, MissingOutputsDamagedStateAndNewLevelAreRepaired) {
  put(release, "a.txt", std::string(1000, 'a'));
  put(release, "b.txt", std::string(1000, 'b'));
  ASSERT_TRUE(run());
  fs::remove(out + "/a.txt");
  ASSERT_TRUE(run());
  EXPECT_EQ(report.game.count(Change::Changed), 1u);
  EXPECT_EQ(served("a.txt"), std::string(1000, 'a'));

  // A state that is garbage, or that names a file outside the output (which
  // would be deleted as "removed"), is dropped as a whole.
  writeFile(dir.file("victim"), "not the publisher's");
  PublishState evil;
  evil.packing = "zip-1 level 6";
  evil.entries["../victim"] = {1, 1, "D41D8CD98F00B204E9800998ECF8427E", 1, 1, ""};
  for (const std::string& state : {std::string("garbage"), serialiseState(evil)}) {
    writeFile(out + "/" + kStateFile, state);
    ASSERT_TRUE(run());
    EXPECT_EQ(report.game.count(Change::Added), 2u);
    EXPECT_EQ(report.game.count(Change::Removed), 0u);
    ASSERT_EQ(report.notes.size(), 1u);
    EXPECT_NE(report.notes[0].find("damaged"), std::string::npos);
  }
  EXPECT_EQ(readFile(dir.file("victim")), "not the publisher's");

  o.level = 1;
  ASSERT_TRUE(run());
  EXPECT_EQ(report.game.count(Change::Changed), 2u);
  EXPECT_TRUE(report.game.listChanged);  // its archive is packed at the new level too
}

TEST_F(PublisherTest, DryRunWritesNothing) {
  put(release, "a.txt", "one");
  o.dryRun = true;
  ASSERT_TRUE(run());
  EXPECT_EQ(report.game.count(Change::Added), 1u);
  EXPECT_TRUE(report.game.listChanged);
  EXPECT_FALSE(fs::exists(out));

  o.dryRun = false;
  ASSERT_TRUE(run());
  std::string state = readFile(out + "/" + kStateFile);
  put(release, "a.txt", "two");
  fs::last_write_time(release + "/a.txt", fs::last_write_time(release + "/a.txt") + std::chrono::seconds(5));
  put(release, "b.txt", "new");
  o.dryRun = true;
  ASSERT_TRUE(run());
  EXPECT_EQ(report.game.count(Change::Changed), 1u);
  EXPECT_EQ(report.game.count(Change::Added), 1u);
  EXPECT_EQ(served("a.txt"), "one");
  EXPECT_FALSE(fs::exists(out + "/b.txt"));
  EXPECT_EQ(readFile(out + "/" + kStateFile), state);
}

TEST_F(PublisherTest, RefusesEveryBadNameAtOnceAndWritesNothing) {
  put(release, "ok.txt", "fine");
  put(release, "files.txt", "shadows the list");
  put(release, "100%.txt", "cannot be requested");
  put(release, "TervalisOnline2D.exe.old", "deleted by the launcher");
  put(release, "sub/a#b", "cannot be requested");
  std::string error;
  EXPECT_FALSE(run(&error));
  EXPECT_NE(error.find("refusing 4 files"), std::string::npos) << error;
  ASSERT_EQ(refusal.problems.size(), 4u);
  EXPECT_EQ(refusal.problems[0].name, "100%.txt");
  EXPECT_FALSE(fs::exists(out));

  // Left out by a pattern, they no longer stand in the way.
  o.filter.exclude("*%*");
  o.filter.exclude("*#*");
  o.filter.exclude("/files.txt");
  o.filter.exclude("*.old");
  ASSERT_TRUE(run());
  EXPECT_EQ(report.game.fileCount, 1u);
}

TEST_F(PublisherTest, LauncherOptionsReplaceTheReleaseCopies) {
  put(release, "tervalisonline2d.exe", "old launcher");
  put(release, "TervalisOnline2D", "old Linux launcher");
  put(dir.path(), "build/new.exe", "new launcher");
  put(dir.path(), "build/linux/tvl", "new Linux launcher");
  o.launcherPath = dir.file("build/new.exe");
  o.linuxLauncherPath = dir.file("build/linux/tvl");
  ASSERT_TRUE(run());
  auto e = entries(readArchive(out + "/files.txt").data);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e["TervalisOnline2D.exe"][3], md5Of("new launcher"));
  EXPECT_EQ(e["TervalisOnline2D"][3], md5Of("new Linux launcher"));
  EXPECT_EQ(readArchive(out + "/TervalisOnline2D.exe").name, "TervalisOnline2D.exe");
  EXPECT_EQ(readArchive(out + "/TervalisOnline2D").name, "TervalisOnline2D");
  ASSERT_EQ(report.notes.size(), 2u);
  EXPECT_NE(report.notes[1].find("replaced"), std::string::npos);

  o.launcherPath = dir.file("build/missing.exe");
  std::string error;
  EXPECT_FALSE(run(&error));
  EXPECT_NE(error.find("missing.exe"), std::string::npos);
}

TEST_F(PublisherTest, AFileMayBecomeADirectoryAndBack) {
  put(release, "x", "file");
  ASSERT_TRUE(run());
  fs::remove(release + "/x");
  put(release, "x/inner", "now a directory");
  ASSERT_TRUE(run());
  EXPECT_EQ(served("x/inner"), "now a directory");
  fs::remove_all(release + "/x");
  put(release, "x", "file again");
  ASSERT_TRUE(run());
  EXPECT_EQ(served("x"), "file again");
}

TEST_F(PublisherTest, IconsArePlainWithTheirOwnListAndChecks) {
  put(release, "data/a.pak", "game");
  std::string icons = dir.file("icons"), iconsOut = dir.file("icons-out");
  put(icons, "1.png", "PNG one");
  put(icons, "clan/2.png", "PNG two");
  o.iconsDir = icons;
  o.iconsOutputDir = iconsOut;
  ASSERT_TRUE(run());
  EXPECT_EQ(readFile(iconsOut + "/clan/2.png"), "PNG two");
  auto e = entries(readFile(iconsOut + "/clan_icons_list.txt"));
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e["1.png"][2], "7");
  EXPECT_EQ(e["1.png"][3], md5Of("PNG one"));
  EXPECT_EQ(report.icons.count(Change::Added), 2u);

  // A touched icon is hashed, not copied again; only its list line moves.
  backdateOutputs(iconsOut);
  fs::last_write_time(icons + "/1.png", fs::last_write_time(icons + "/1.png") + std::chrono::seconds(10));
  ASSERT_TRUE(run());
  EXPECT_EQ(report.icons.count(Change::Unchanged), 2u);
  EXPECT_TRUE(report.icons.listChanged);
  EXPECT_FALSE(fs::last_write_time(iconsOut + "/1.png") > fs::file_time_type::clock::now() - std::chrono::hours(1));

  // A game file that is also an icon's target would flip on every start.
  put(release, "data/textures/1.png", "other");
  std::string error;
  EXPECT_FALSE(run(&error));
  ASSERT_EQ(refusal.problems.size(), 2u);
  EXPECT_NE(refusal.problems[0].reason.find("clan icon"), std::string::npos);
}

TEST_F(PublisherTest, OutputsMayNotLieInsideInputsOrEachOther) {
  put(release, "a", "a");
  std::string error;
  o.outputDir = release + "/www";
  EXPECT_FALSE(run(&error));
  EXPECT_NE(error.find("inside one another"), std::string::npos) << error;
  o.outputDir = out;
  o.iconsDir = dir.file("icons");
  o.iconsOutputDir = out + "/icons";
  fs::create_directories(o.iconsDir);
  EXPECT_FALSE(run(&error));
  o.releaseLabel = "";
  o.iconsDir = o.iconsOutputDir = "";
  EXPECT_FALSE(run(&error));
  EXPECT_NE(error.find("release label"), std::string::npos);
}

}  // namespace
}  // namespace publish
