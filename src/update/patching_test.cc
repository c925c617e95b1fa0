// Patches in whole update runs over a fake server: which files come as
// patches, which fall back to the whole file, what the progress counts, and
// that every road ends with the file the list names. (Two releases behind, a
// damaged local file and a damaged patch are proved end to end.)
#include "update/patching.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "../transfer/download_test_util.h"
#include "platform/fs.h"
#include "release/patch_make.h"
#include "update/local_hash.h"
#include "update/worker.h"

namespace tvl {


namespace {

class Server : public HttpClient {
 public:
  HttpResult get(const HttpRequest& request, HttpSink& sink) override {
    std::string path = request.host + request.objectPath;
    requests.push_back(path);
    auto it = files.find(path);
    int status = it == files.end() ? 404 : 200;
    const std::string body = it == files.end() ? "<html>missing</html>" : it->second;
    HttpResponseHead head;
    head.status = status;
    head.hasContentLength = true;
    head.contentLength = static_cast<int32_t>(body.size());
    head.contentLength64 = head.contentLength;
    if (!sink.onHead(head)) return {HttpOutcome::kRefused, 0};
    if (!body.empty()) sink.onData(body.data(), body.size());
    return {HttpOutcome::kEnded, 0};
  }
  bool asked(const std::string& path) const {
    return std::find(requests.begin(), requests.end(), path) != requests.end();
  }
  std::map<std::string, std::string> files;
  std::vector<std::string> requests;
};

std::string randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rnd(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rnd());
  return s;
}

std::string zipOf(const std::string& name, const std::string& data) {
  std::string path = testutil::TempDir().path() + ".zip";
  writeZip(path, {{name, data}});
  std::string bytes = testutil::readFile(path);
  std::remove(path.c_str());
  return bytes;
}

class PatchingTest : public StagingTest {
 protected:
  void SetUp() override {
    StagingTest::SetUp();
    testutil::settings().update = ServerLocation{"upd", "/3d/"};
    testutil::settings().icons = ServerLocation{"ico", "/swf/"};
    ASSERT_TRUE(acquireCryptProvider(*updater_));
    ASSERT_TRUE(hasher.acquire());
    // Three releases of one pack, each a few scattered edits from the last.
    versions.push_back(randomBytes(300000, 1));
    for (uint32_t v = 1; v <= 2; ++v) {
      std::string next = versions.back();
      for (size_t at = 5000 * v; at + 100 < next.size(); at += 97000) next.replace(at, 100, randomBytes(100, at + v));
      versions.push_back(next);
    }
  }
  void TearDown() override {
    releaseCryptProvider(*updater_);
    testutil::settings().update = ServerLocation();
    testutil::settings().icons = ServerLocation();
    StagingTest::TearDown();
  }

  std::string md5(const std::string& bytes) {
    return platform::md5HexOf(hasher, bytes.data(), bytes.size());
  }
  // The patch from version `from` to the newest.
  std::string patchFrom(size_t from) { return patchBetween(versions[from]); }
  std::string patchBetween(const std::string& base) {
    testutil::TempDir work;
    testutil::writeFile(work.file("base"), base);
    testutil::writeFile(work.file("target"), versions.back());
    release::PatchMakeResult r;
    std::string error;
    EXPECT_TRUE(release::makePatch(work.file("base"), work.file("target"), work.file("patch"), UINT64_MAX, &r, &error))
        << error;
    return testutil::readFile(work.file("patch"));
  }
  std::string patchPath(size_t from) { return "patches/" + md5(versions[from]) + "-" + md5(versions.back()) + ".zst"; }

  // Serves the newest version of `name` and patches to it from every older
  // version; returns the archive's size.
  int32_t publish(const std::string& name) {
    std::string archive = zipOf(name, versions.back());
    server.files["upd/3d/" + name] = archive;
    server.files["upd/3d/files.txt"] = zipOf("files.txt", name + "\tx\ty\t" + std::to_string(archive.size()) + "\t" +
                                                              md5(versions.back()) + "\r\n");
    server.files["ico/swf/clan_icons_list.txt"] = "";
    std::vector<release::PatchEntry> patches;
    for (size_t v = 0; v + 1 < versions.size(); ++v) {
      std::string patch = patchFrom(v);
      server.files["upd/3d/" + patchPath(v)] = patch;
      patches.push_back({name, md5(versions[v]), md5(versions.back()), patch.size(), patchPath(v)});
    }
    server.files["upd/3d/patches.txt"] = zipOf("patches.txt", release::formatPatchList(patches));
    return static_cast<int32_t>(archive.size());
  }

  UpdateOutcome run() {
    updater_.reset(new Updater(testutil::settings(), nullptr));
    return runUpdate(*updater_, server, false);
  }

  Server server;
  std::vector<std::string> versions;
  platform::Md5Provider hasher;  // runs release the Updater's
};

TEST_F(PatchingTest, PatchWhereOneFitsWholeFileOtherwiseAlwaysTheListedBytes) {
  const char kPack[] = "data/big.pak";
  struct Case {
    const char* what;
    int local;  // version installed; -1 none
    bool readOnly = false;
    const char* list = "";   // "404", "garbage", "bad line": the patch list served instead
    const char* patch = "";  // "404", "other base": the patch served instead
    int patchedFrom = -1;    // the patch that must be used; -1 none
    bool listAsked = true;
  } cases[] = {
      {"one release behind", 1, false, "", "", 1},
      {"read-only installed file", 1, true, "", "", 1},
      {"nothing installed", -1, false, "", "", -1, false},
      {"no patch list", 1, false, "404"},
      {"patch list not a zip", 1, false, "garbage"},
      {"patch list with a bad line", 1, false, "bad line"},
      {"patch missing", 1, false, "", "404"},
      {"patch from another base", 1, false, "", "other base"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    server = Server();
    std::filesystem::remove_all(path("data/big.pak"));
    int32_t archiveSize = publish(kPack);
    std::string listed = "upd/3d/" + patchPath(1);  // the patch from version 1
    if (c.local >= 0) testutil::writeFile(path(kPack), versions[c.local]);
    if (c.readOnly) {
      ASSERT_TRUE(platform::setAttributes(path(kPack), platform::kAttrReadOnly));
    }
    std::string list = c.list;
    if (list == "404") server.files.erase("upd/3d/patches.txt");
    if (list == "garbage") server.files["upd/3d/patches.txt"] = "not a zip";
    if (list == "bad line") server.files["upd/3d/patches.txt"] = zipOf("patches.txt", "data/big.pak\tx\r\n");
    std::string patch = c.patch;
    if (patch == "404") server.files.erase(listed);
    // Made from the same bytes in another order: it copies from the wrong places.
    if (patch == "other base")
      server.files[listed] = patchBetween(versions[1].substr(150000) + versions[1].substr(0, 150000));
    // What an interrupted run left in staging.
    for (const char* leftover : {"patch.tmp", "patched.tmp", "patches.txt"})
      testutil::writeFile(path(std::string("data/update/") + leftover), "left over");

    EXPECT_EQ(run().end, UpdateEnd::kPlay);
    EXPECT_EQ(testutil::readFile(path(kPack)), versions.back());
    EXPECT_EQ(server.asked("upd/3d/patches.txt"), c.listAsked);
    bool patched = c.patchedFrom >= 0;
    EXPECT_EQ(server.asked("upd/3d/data/big.pak"), !patched) << "the whole file";
    if (patched) {
      EXPECT_TRUE(server.asked("upd/3d/" + patchPath(c.patchedFrom)));
    }
    // The total counts what was fetched: the patch, the whole file, or a
    // patch tried first and then the whole file.
    bool tried = *c.patch != 0;
    int32_t patchSize = static_cast<int32_t>(patchFrom(1).size());
    int32_t total = patched ? static_cast<int32_t>(patchFrom(c.patchedFrom).size())
                            : archiveSize + (tried ? patchSize : 0);
    EXPECT_EQ(updater_->progress.snapshot().bytesTotal, total);
    for (const auto& f : std::filesystem::directory_iterator(path("data/update")))
      ADD_FAILURE() << "left in staging: " << f.path();
  }
}

TEST_F(PatchingTest, TheLauncherItselfIsNeverPatched) {
  testutil::writeFile(path("TervalisOnline2D.exe"), versions[1]);
  publish("TervalisOnline2D.exe");
  server.files["upd/3d/TervalisOnline2D.exe"] = zipOf("TervalisOnline2D.exe", versions.back());
  EXPECT_EQ(run().end, UpdateEnd::kRestart);
  EXPECT_FALSE(server.asked("upd/3d/patches.txt"));
  EXPECT_EQ(testutil::readFile(path("TervalisOnline2D.exe")), versions.back());
}

// The signed road's hook sees the list, the patch and the result by name,
// and whatever it refuses is not used.
TEST_F(PatchingTest, CheckHookSeesEveryStagedFileAndItsRefusalFallsBack) {
  publish("big.pak");
  for (const std::string& refused : std::vector<std::string>{"", "patches.txt", patchPath(1), "big.pak"}) {
    SCOPED_TRACE(refused);
    testutil::writeFile(path("big.pak"), versions[1]);
    std::vector<FileListEntry> entries(1);
    FileListEntry& e = entries[0];
    e.name = "big.pak";
    e.size = 1000000;
    e.digest = md5(versions.back());
    e.localDigest = md5(versions[1]);
    e.needsDownload = true;
    e.source = &updater_->updateSource;
    e.packed = true;
    std::vector<std::string> seen;
    DownloadSession session = updater_->session(server);
    PatchRun run(*updater_);
    run.checkStaged = [&](const std::string& name, const std::string& staged) {
      EXPECT_TRUE(platform::findPath(staged)) << name;
      seen.push_back(name);
      return name != refused;
    };
    int32_t total = run.plan(session, entries);
    bool installed = run.install(session, e);
    EXPECT_EQ(installed, refused.empty());
    EXPECT_EQ(total, refused == "patches.txt" ? e.size : static_cast<int32_t>(patchFrom(1).size()));
    EXPECT_EQ(testutil::readFile(path("big.pak")), installed ? versions.back() : versions[1]);
    std::vector<std::string> all = {"patches.txt", patchPath(1), "big.pak"};
    all.resize(std::find(all.begin(), all.end(), refused) - all.begin() + (refused.empty() ? 0 : 1));
    EXPECT_EQ(seen, all);
  }
}

}  // namespace

}  // namespace tvl
