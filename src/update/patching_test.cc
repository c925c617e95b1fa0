// Patches in whole update runs over a fake server: which files come as
// patches, which fall back to the whole file, what the progress counts, and
// that every road ends with the file the list names. (Two releases behind, a
// damaged local file and a damaged patch are proved end to end.)
#include "update/patching.h"

#include <gtest/gtest.h>

#include <zstd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <random>
#include <string>
#include <vector>

#include "../transfer/download_test_util.h"
#include "platform/fs.h"
#include "release/keys.h"
#include "release/patch_apply.h"
#include "release/manifest.h"
#include "release/patch_make.h"
#include "release/sha256.h"
#include "update/fetch_queue.h"
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
    if (!sink.onHead(head)) return {HttpOutcome::kRefused, 0};
    taken[path] += body.size();  // the body, offered in one piece
    if (!body.empty()) sink.onData(body.data(), body.size());
    return {HttpOutcome::kEnded, 0};
  }
  bool asked(const std::string& path) const {
    return std::find(requests.begin(), requests.end(), path) != requests.end();
  }
  std::map<std::string, std::string> files;
  std::vector<std::string> requests;
  std::map<std::string, size_t> taken;  // body bytes offered after the head was taken, by path
};

std::string randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rnd(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rnd());
  return s;
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
  std::string patchFrom(size_t from, uint64_t pieceSize = 0) { return patchBetween(versions[from], pieceSize); }
  std::string patchBetween(const std::string& base, uint64_t pieceSize = 0) {
    testutil::TempDir work;
    testutil::writeFile(work.file("base"), base);
    testutil::writeFile(work.file("target"), versions.back());
    release::PatchMakeResult r;
    std::string error;
    EXPECT_TRUE(release::makePatch(work.file("base"), work.file("target"), work.file("patch"), UINT64_MAX, &r, &error,
                                   {}, pieceSize))
        << error;
    EXPECT_EQ(r.pieceSize, pieceSize);
    return testutil::readFile(work.file("patch"));
  }
  std::string patchPath(size_t from, bool pieces = false) {
    return "patches/" + md5(versions[from]) + "-" + md5(versions.back()) + (pieces ? ".zsp" : ".zst");
  }

  // Serves the newest version of `name` and patches to it from every older
  // version (piece-wise, listed apart, with pieceSize); returns the
  // archive's size.
  int32_t publish(const std::string& name, uint64_t pieceSize = 0) {
    std::string archive = zipOf(name, versions.back());
    server.files["upd/3d/" + name] = archive;
    server.files["upd/3d/files.txt"] = zipOf("files.txt", name + "\tx\ty\t" + std::to_string(archive.size()) + "\t" +
                                                              md5(versions.back()) + "\r\n");
    server.files["ico/swf/clan_icons_list.txt"] = "";
    std::vector<release::PatchEntry> patches;
    for (size_t v = 0; v + 1 < versions.size(); ++v) {
      std::string patch = patchFrom(v, pieceSize);
      server.files["upd/3d/" + patchPath(v, pieceSize)] = patch;
      patches.push_back({name, md5(versions[v]), md5(versions.back()), patch.size(), patchPath(v, pieceSize)});
    }
    std::string list = pieceSize ? release::kPiecePatchListName : release::kPatchListName;
    server.files["upd/3d/" + list] = zipOf(list, release::formatPatchList(patches));
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
    EXPECT_EQ(staged(), std::vector<std::string>());
  }
}

TEST_F(PatchingTest, PieceWisePatchesComeFromTheirOwnList) {
  publish("data/big.pak", release::kMinPieceSize);
  testutil::writeFile(path("data/big.pak"), versions[0]);
  EXPECT_EQ(run().end, UpdateEnd::kPlay);
  EXPECT_EQ(testutil::readFile(path("data/big.pak")), versions.back());
  EXPECT_TRUE(server.asked("upd/3d/patches.txt"));
  EXPECT_TRUE(server.asked("upd/3d/piece_patches.txt"));
  EXPECT_TRUE(server.asked("upd/3d/" + patchPath(0, true)));
  EXPECT_FALSE(server.asked("upd/3d/data/big.pak"));
}

TEST_F(PatchingTest, TheLauncherItselfIsNeverPatched) {
  testutil::writeFile(path("TervalisOnline2D.exe"), versions[1]);
  publish("TervalisOnline2D.exe");
  server.files["upd/3d/TervalisOnline2D.exe"] = zipOf("TervalisOnline2D.exe", versions.back());
  EXPECT_EQ(run().end, UpdateEnd::kRestart);
  EXPECT_FALSE(server.asked("upd/3d/patches.txt"));
  EXPECT_EQ(testutil::readFile(path("TervalisOnline2D.exe")), versions.back());
}

// The patch list and every patch are held to the signed release as they
// arrive, like any fetched file: never asked for when it does not name
// them, refused unread when longer than named, refused when their bytes are
// not the ones named even though they apply; each refusal ends with the
// whole file.
TEST_F(PatchingTest, SignedReleaseHoldsThePatchListAndEveryPatch) {
  constexpr int64_t kNow = 1800000000;
  release::SecretKey key;
  ASSERT_TRUE(release::generateKey(&key));
  struct Case {
    const char* what;
    bool patched;
    bool listAsked;
    bool patchAsked;
  } cases[] = {
      {"named patch", true, true, true},
      {"patch list not named", false, false, false},
      {"patch not named", false, true, false},
      {"patch longer than named", false, true, true},
      {"patch made at another level", false, true, true},
      {"patch list altered", false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string what = c.what;
    server = Server();
    publish("big.pak");
    testutil::writeFile(path("big.pak"), versions[1]);
    const std::string patch = "upd/3d/" + patchPath(1);
    release::Manifest m;
    m.release = 5;
    m.expires = kNow + 3600;
    for (const auto& f : server.files) {
      std::string name = f.first.substr(f.first.find('/', 4) + 1);
      if (what == "patch list not named" && name == "patches.txt") continue;
      if (what == "patch not named" && name == patchPath(1)) continue;
      release::FileEntry e;
      e.origin = f.first.compare(0, 4, "ico/") == 0 ? release::Origin::Icons : release::Origin::Update;
      e.name = name;
      e.size = f.second.size();
      e.sha256 = release::sha256Of(f.second.data(), f.second.size());
      m.files.push_back(e);
    }
    std::string text, error;
    ASSERT_TRUE(release::writeManifest(m, key, &text, &error)) << error;
    server.files["upd/3d/release.sig"] = text;
    if (what == "patch longer than named") server.files[patch] += std::string(1 << 20, 'x');
    if (what == "patch made at another level") {
      // Same base, same target, another compression level: it applies.
      std::string other(ZSTD_compressBound(versions.back().size()), '\0');
      std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> cctx(ZSTD_createCCtx(), ZSTD_freeCCtx);
      ASSERT_FALSE(ZSTD_isError(ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_compressionLevel, 1)));
      ASSERT_FALSE(ZSTD_isError(ZSTD_CCtx_refPrefix(cctx.get(), versions[1].data(), versions[1].size())));
      size_t n = ZSTD_compress2(cctx.get(), &other[0], other.size(), versions.back().data(), versions.back().size());
      ASSERT_FALSE(ZSTD_isError(n));
      other.resize(n);
      ASSERT_NE(other, server.files[patch]);
      testutil::writeFile(path("base"), versions[1]);
      ASSERT_TRUE(release::applyPatchBytes(hasher, path("base"), reinterpret_cast<const uint8_t*>(other.data()),
                                           other.size(), path("rebuilt"), md5(versions.back()))
                      .ok());
      std::filesystem::remove(path("base"));
      std::filesystem::remove(path("rebuilt"));
      server.files[patch] = other;
    }
    if (what == "patch list altered") {  // still naming the right patch, and one more
      release::PatchEntry listed{"big.pak", md5(versions[1]), md5(versions.back()), patchFrom(1).size(), patchPath(1)};
      release::PatchEntry more{"other.pak", md5("a"), md5("b"), 1, "patches/other.zst"};
      server.files["upd/3d/patches.txt"] = zipOf("patches.txt", release::formatPatchList({listed, more}));
    }

    updater_.reset(new Updater(testutil::settings(), nullptr));
    updater_->releaseKeys = {key.publicKey()};
    updater_->clock = [] { return kNow; };
    EXPECT_EQ(runUpdate(*updater_, server, false).end, UpdateEnd::kPlay);
    EXPECT_EQ(testutil::readFile(path("big.pak")), versions.back());
    EXPECT_EQ(server.asked("upd/3d/patches.txt"), c.listAsked);
    EXPECT_EQ(server.asked(patch), c.patchAsked);
    EXPECT_EQ(server.asked("upd/3d/big.pak"), !c.patched) << "the whole file";
    EXPECT_EQ(server.taken[patch], c.patched ? server.files[patch].size() : 0u);
    EXPECT_EQ(staged(), std::vector<std::string>());
  }
}

// Runs fn on a thread of its own; a run that does not end in a minute hangs
// (a lost wake-up): the process fails at once rather than waiting for ever.
void endsInTime(const std::function<void()>& fn) {
  std::packaged_task<void()> task(fn);
  std::future<void> done = task.get_future();
  std::thread runner(std::move(task));
  if (done.wait_for(std::chrono::minutes(1)) != std::future_status::ready) {
    std::fprintf(stderr, "the run hangs: nothing woke the installer\n");
    std::_Exit(1);
  }
  runner.join();
}

// Every changed file planned as a patch, four connections, and fetchers
// held back until the installer waits for the first file: each fetcher
// only marks its slot for patching, and that must wake the installer. The
// same with the patches gone: the installer falls back to whole files.
TEST_F(PatchingTest, InstallerWaitingForPatchedSlotsIsWoken) {
  const std::vector<std::string> packs = {"a.pak", "b.pak", "c.pak", "d.pak", "e.pak"};
  for (bool patchesThere : {true, false}) {
    SCOPED_TRACE(patchesThere ? "patches" : "patches missing");
    server = Server();
    std::string list;
    std::vector<release::PatchEntry> patches;
    std::string patch = patchFrom(1);
    for (const std::string& name : packs) {
      testutil::writeFile(path(name), versions[1]);
      std::string archive = zipOf(name, versions.back());
      server.files["upd/3d/" + name] = archive;
      list += name + "\tx\ty\t" + std::to_string(archive.size()) + "\t" + md5(versions.back()) + "\r\n";
      patches.push_back({name, md5(versions[1]), md5(versions.back()), patch.size(), patchPath(1)});
    }
    server.files["upd/3d/files.txt"] = zipOf("files.txt", list);
    server.files["ico/swf/clan_icons_list.txt"] = "";
    server.files["upd/3d/patches.txt"] = zipOf("patches.txt", release::formatPatchList(patches));
    if (patchesThere) server.files["upd/3d/" + patchPath(1)] = patch;

    std::mutex lock;
    std::condition_variable changed;
    bool installerWaits = false;
    fetchQueueHooksForTesting.installerWaits = [&](size_t) {
      std::lock_guard<std::mutex> hold(lock);
      installerWaits = true;
      changed.notify_all();
    };
    fetchQueueHooksForTesting.fetcherStarts = [&] {
      std::unique_lock<std::mutex> hold(lock);
      changed.wait(hold, [&] { return installerWaits; });
    };
    UpdateOutcome o;
    endsInTime([&] {
      updater_.reset(new Updater(testutil::settings(), nullptr));
      updater_->options.connections = 4;
      o = runUpdate(*updater_, server, false);
    });
    fetchQueueHooksForTesting = FetchQueueHooks();
    EXPECT_EQ(o.end, UpdateEnd::kPlay);
    for (const std::string& name : packs) {
      EXPECT_EQ(testutil::readFile(path(name)), versions.back()) << name;
      EXPECT_EQ(server.asked("upd/3d/" + name), !patchesThere) << name;
    }
  }
}

}  // namespace

}  // namespace tvl
