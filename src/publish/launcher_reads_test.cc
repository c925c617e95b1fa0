// What the publisher writes, read back by the launcher's own code: its
// archive reader installs every file under its list name with its bytes and
// time, and its list parser finds every entry with the right size and MD5.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>

#include "platform/fs.h"
#include "publish/md5_test_util.h"
#include "publish/publisher.h"
#include "test_util.h"
#include "transfer/archive.h"
#include "update/file_list.h"

using namespace tvl;

namespace publish {
namespace {

namespace fs = std::filesystem;
using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

// Installs the one member of archive below base the way the download does,
// under the name the launcher derives from it; returns that name.
std::string install(const std::string& archive, const std::string& base, ArchiveItem* item) {
  ArchiveReader* r = openArchive(archive);
  if (!r) return "<not an archive>";
  ArchiveItem count;
  getArchiveItem(r, -1, count);
  EXPECT_EQ(count.index, 1) << archive;
  EXPECT_EQ(setArchiveBaseDir(r, base), kArchiveOk);
  EXPECT_EQ(getArchiveItem(r, 0, *item), kArchiveOk);
  EXPECT_EQ(extractArchiveItem(r, 0, item->name), kArchiveOk) << archive;
  closeArchive(r);
  return item->name;
}

TEST(LauncherReads, PublishedArchivesAndList) {
  TempDir dir;
  std::string release = dir.file("release"), out = dir.file("out"), game = dir.file("game") + "/";
  std::mt19937 rng(11);
  std::string random(200000, '\0');
  for (char& c : random) c = static_cast<char>(rng());
  const std::map<std::string, std::string> files = {
      {"TervalisOnline2D.exe", "MZ" + random.substr(0, 5000)},
      {"bin/TervalisOnline2D.exe", "MZ not the launcher"},
      {"data/maps/a map.txt", std::string(100000, 'm')},
      {"data/sound.ogg", random},
      {"empty", ""},
  };
  for (const auto& [name, data] : files) {
    fs::create_directories(fs::path(release + "/" + name).parent_path());
    writeFile(release + "/" + name, data);
  }
  fs::create_directories(game);

  PublishOptions o;
  o.releaseDir = release;
  o.outputDir = out;
  o.fixedStamp = true;
  o.stamp = 1700000000;
  PublishReport report;
  Progress progress;
  Refusal refusal;
  std::string error;
  ASSERT_TRUE(publish(o, &report, &progress, &error, &refusal)) << error;

  const uint64_t fileTime = (1700000000ULL + 11644473600ULL) * 10000000ULL;
  for (const auto& [name, data] : files) {
    ArchiveItem item;
    EXPECT_EQ(install(out + "/" + name, game, &item), name);
    EXPECT_EQ(readFile(game + name), data) << name;
    EXPECT_EQ(item.writeTime, fileTime) << name;
    EXPECT_EQ(item.attributes & platform::kAttrReadOnly, 0u) << name;
  }

  ArchiveItem listItem;
  ASSERT_EQ(install(out + "/files.txt", game, &listItem), "files.txt");
  std::string text = readFile(game + "files.txt");
  ServerLocation source{"update.example", "/3d/"};
  std::vector<FileListEntry> entries;
  appendFileListEntries(text.data(), text.size(), source, "", true, entries);
  ASSERT_EQ(entries.size(), files.size());
  for (const FileListEntry& e : entries) {
    auto f = files.find(e.name);
    ASSERT_NE(f, files.end()) << e.name;
    // The size is what is served (the archive), which the progress bar counts.
    EXPECT_EQ(e.size, static_cast<int32_t>(readFile(out + "/" + e.name).size())) << e.name;
    EXPECT_EQ(e.digest, md5Of(f->second)) << e.name;
  }
}

}  // namespace
}  // namespace publish
