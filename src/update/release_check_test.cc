// A launcher with a key over a fake server: what it fetches, what it refuses
// and what it leaves installed.
#include "update/release_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <cstdio>
#include <random>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "../transfer/download_test_util.h"
#include "release/accepted_release.h"
#include "transfer/resume.h"
#include "update/local_hash.h"
#include "update/worker.h"

namespace tvl {


namespace {

using release::Origin;

constexpr int64_t kNow = 1800000000;
int64_t fixedClock() { return kNow; }

struct Served {
  int status = 200;
  std::string body;
  int64_t announced = -1;  // Content-Length; -1: the body's size
  size_t extra = 0;        // bytes sent beyond the body
  std::string etag;        // set: ranges are served (and no extra bytes)
};

// Hands bodies over in transport-sized chunks and counts what the sink took.
class Server : public HttpClient {
 public:
  HttpResult get(const HttpRequest& request, HttpSink& sink) override {
    std::string key = request.host + request.objectPath;
    requests.push_back(key);
    if (down.count(request.host)) return {HttpOutcome::kNotStarted, kHttpErrorCannotConnect};
    if (onRequest) onRequest(key);
    auto it = files.find(key);
    Served s = it == files.end() ? Served{404, "<html>missing</html>"} : it->second;
    std::string body = s.body + std::string(s.extra, 'X');
    int64_t announced = s.announced >= 0 ? s.announced : static_cast<int64_t>(s.body.size());
    if (s.etag.empty()) {
      if (!sink.onResponse(s.status, true, static_cast<int32_t>(announced))) return {HttpOutcome::kRefused, 0};
    } else {  // ranges served, guarded by the ETag
      HttpResponseHead head;
      head.status = s.status;
      head.etag = s.etag;
      int64_t from = request.rangeFrom > 0 && request.ifRange == s.etag ? request.rangeFrom : 0;
      if (from > 0) {
        head.status = 206;
        head.hasContentRange = true;
        head.rangeFirst = from;
        head.rangeLast = static_cast<int64_t>(body.size()) - 1;
        head.rangeTotal = static_cast<int64_t>(body.size());
        body = body.substr(static_cast<size_t>(from));
      }
      head.hasContentLength = true;
      head.contentLength = static_cast<int32_t>(body.size());
      ranges.push_back(from);
      if (!sink.onHead(head)) return {HttpOutcome::kRefused, 0};
    }
    for (size_t at = 0; at < body.size(); at += kHttpChunk) {
      size_t n = std::min(kHttpChunk, body.size() - at);
      taken[key] += n;
      if (!sink.onData(body.data() + at, n)) break;
    }
    return {HttpOutcome::kEnded, 0};
  }
  std::map<std::string, Served> files;
  std::set<std::string> down;  // hosts that cannot be reached
  std::vector<std::string> requests;
  std::map<std::string, size_t> taken;
  std::function<void(const std::string& key)> onRequest;
  std::vector<int64_t> ranges;  // where each answer of a file with an ETag started
};

class SignedReleaseTest : public StagingTest {
 protected:
  using Files = std::vector<std::pair<std::string, std::string>>;

  void SetUp() override {
    StagingTest::SetUp();
    testutil::settings().update = ServerLocation{"upd", "/3d/"};
    testutil::settings().icons = ServerLocation{"ico", "/swf/"};
    ASSERT_TRUE(release::generateKey(&key_));
    ASSERT_TRUE(release::generateKey(&otherKey_));
    hasher_.reset(new Updater(testutil::settings(), nullptr));
    ASSERT_TRUE(acquireCryptProvider(*hasher_));
  }
  void TearDown() override {
    releaseCryptProvider(*hasher_);
    testutil::settings().update = ServerLocation();
    testutil::settings().icons = ServerLocation();
    StagingTest::TearDown();
  }

  void serve(Origin origin, const std::string& name, const std::string& body) {
    std::string key = (origin == Origin::Icons ? "ico/swf/" : "upd/3d/") + name;
    server.files[key] = Served{200, body};
    release::FileEntry e;
    e.origin = origin;
    e.name = name;
    e.size = body.size();
    e.sha256 = release::sha256Of(body.data(), body.size());
    manifest_.files.push_back(e);
  }
  std::string line(const std::string& name, const std::string& content) {
    return name + "\tx\ty\t" + std::to_string(content.size()) + "\t" +
           md5Hex(*hasher_, reinterpret_cast<const uint8_t*>(content.data()), static_cast<uint32_t>(content.size())) +
           "\r\n";
  }
  // Serves a release and its manifest, signed with the launcher's key.
  void publish(const Files& packed, const Files& icons) {
    server = Server();
    manifest_ = release::Manifest();
    manifest_.release = 5;
    manifest_.expires = kNow + 3600;
    std::string list, iconList;
    for (const auto& f : packed) {
      list += line(f.first, f.second);
      serve(Origin::Update, f.first, zipOf(f.first, f.second));
    }
    for (const auto& f : icons) {
      iconList += line(f.first, f.second);
      serve(Origin::Icons, f.first, f.second);
    }
    serve(Origin::Update, "files.txt", zipOf("files.txt", list));
    serve(Origin::Icons, "clan_icons_list.txt", iconList);
    sign(key_);
  }
  void sign(const release::SecretKey& key) {
    std::string text, error;
    ASSERT_TRUE(release::writeManifest(manifest_, key, &text, &error)) << error;
    server.files["upd/3d/release.sig"] = Served{200, text};
  }
  // The release as a publisher with an object store serves it: every named
  // file also at its digest's address, the markers named too.
  void withObjects() {
    serve(Origin::Update, release::kObjectsMarkerName, release::kObjectsMarkerText);
    serve(Origin::Icons, release::kObjectsMarkerName, release::kObjectsMarkerText);
    for (const release::FileEntry& e : manifest_.files) {
      std::string prefix = e.origin == Origin::Icons ? "ico/swf/" : "upd/3d/";
      server.files[prefix + release::objectName(e.sha256)] = server.files[prefix + e.name];
    }
    sign(key_);
  }
  // A mirror "mir/m" holding a copy of all of it.
  void mirrored() {
    std::map<std::string, Served> copy;
    for (const auto& [key, served] : server.files)
      copy["mir/m" + key.substr(3)] = served;  // "upd/3d/x" -> "mir/m/3d/x"
    server.files.insert(copy.begin(), copy.end());
  }
  std::string objectKey(const std::string& prefix, const std::string& name) {
    Origin origin = prefix == "ico/swf/" ? Origin::Icons : Origin::Update;
    for (const release::FileEntry& e : manifest_.files)
      if (e.origin == origin && e.name == name) return prefix + release::objectName(e.sha256);
    return "";
  }

  std::string& servedManifest() { return server.files["upd/3d/release.sig"].body; }

  // Each run is a new process with the key built in.
  UpdateOutcome run() {
    updater_.reset(new Updater(testutil::settings(), nullptr));
    withKey(*updater_);
    return runUpdate(*updater_, server, false);
  }
  void withKey(Updater& u) {
    u.releaseKeys = {key_.publicKey()};
    u.clock = fixedClock;
    u.retryDelayForTesting = 1;
  }
  uint64_t acceptedRelease() { return release::readAcceptedRelease(path("data/update/release.txt")).number; }

  Server server;
  std::unique_ptr<Updater> hasher_;  // only its digest provider
  release::SecretKey key_, otherKey_;
  release::Manifest manifest_;
};

TEST_F(SignedReleaseTest, ManifestComesFirstAndItsReleaseIsKept) {
  publish({{"a.pak", "A"}, {"TervalisOnline2D.exe", "L2"}}, {{"7.png", "icon"}});
  testutil::writeFile(path("TervalisOnline2D.exe"), "L1");
  EXPECT_EQ(run().end, UpdateEnd::kRestart);
  EXPECT_EQ(server.requests,
            (std::vector<std::string>{"upd/3d/release.sig", "upd/3d/files.txt", "ico/swf/clan_icons_list.txt",
                                      "upd/3d/a.pak", "upd/3d/TervalisOnline2D.exe", "ico/swf/7.png"}));
  EXPECT_EQ(testutil::readFile(path("a.pak")), "A");
  EXPECT_EQ(testutil::readFile(path("TervalisOnline2D.exe")), "L2");
  EXPECT_EQ(testutil::readFile(path("data/textures/7.png")), "icon");
  EXPECT_EQ(acceptedRelease(), 5u);

  // The same release again is fine; a newer one moves the record on.
  EXPECT_EQ(run().end, UpdateEnd::kPlay);
  manifest_.release = 9;
  sign(key_);
  EXPECT_EQ(run().end, UpdateEnd::kPlay);
  EXPECT_EQ(acceptedRelease(), 9u);
}

TEST_F(SignedReleaseTest, ObjectsAreFetchedByDigestOnceTheManifestMarksThem) {
  publish({{"a.pak", "A"}}, {{"7.png", "icon"}});
  sign(key_);
  withObjects();
  // What a cache might still hold by name from another release.
  for (auto& [key, served] : server.files)
    if (key.find("/objects/") == std::string::npos && key != "upd/3d/release.sig") served.body = "stale";
  EXPECT_EQ(run().end, UpdateEnd::kPlay);
  EXPECT_EQ(server.requests,
            (std::vector<std::string>{"upd/3d/release.sig", objectKey("upd/3d/", "files.txt"),
                                      objectKey("ico/swf/", "clan_icons_list.txt"), objectKey("upd/3d/", "a.pak"),
                                      objectKey("ico/swf/", "7.png")}));
  EXPECT_EQ(testutil::readFile(path("a.pak")), "A");
  EXPECT_EQ(testutil::readFile(path("data/textures/7.png")), "icon");
}

TEST_F(SignedReleaseTest, AMirrorStandsInForAFailingServer) {
  enum Fault { kDown, kObjectMissing, kObjectDamaged, kDownMirrorBehind };
  struct Case {
    const char* what;
    Fault fault;
    UpdateEnd end;
  } cases[] = {
      {"server down", kDown, UpdateEnd::kPlay},
      {"object missing", kObjectMissing, UpdateEnd::kPlay},
      {"object damaged", kObjectDamaged, UpdateEnd::kPlay},
      {"server down, mirror behind the installed release", kDownMirrorBehind, UpdateEnd::kReleaseRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove(path("a.pak").c_str());
    std::remove(path("data/update/release.txt").c_str());
    publish({{"a.pak", "A"}}, {});
    withObjects();
    mirrored();
    std::string object = objectKey("upd/3d/", "a.pak"), error;
    if (c.fault == kDown || c.fault == kDownMirrorBehind) server.down.insert("upd");
    if (c.fault == kObjectMissing) server.files.erase(object);
    if (c.fault == kObjectDamaged) server.files[object].body[3] ^= 1;
    if (c.fault == kDownMirrorBehind) {
      ASSERT_TRUE(release::writeAcceptedRelease(path("data/update/release.txt"), 6, &error));
    }
    updater_.reset(new Updater(testutil::settings(), nullptr));
    withKey(*updater_);
    updater_->options.mirrors = "mir/m";
    UpdateOutcome o = runUpdate(*updater_, server, false);
    EXPECT_EQ(o.end, c.end);
    bool fromMirror = std::count(server.requests.begin(), server.requests.end(), "mir/m" + object.substr(3)) == 1;
    if (c.end == UpdateEnd::kPlay) {
      EXPECT_EQ(testutil::readFile(path("a.pak")), "A");
      EXPECT_TRUE(fromMirror);
    } else {
      EXPECT_EQ(o.release.problem, ReleaseProblem::kRollback);
      EXPECT_FALSE(fromMirror);
    }
  }
}

TEST_F(SignedReleaseTest, RefusedManifestEndsTheRunBeforeAnyList) {
  struct Case {
    const char* what;
    ReleaseProblem problem;
  } cases[] = {
      {"missing", ReleaseProblem::kMissing},          {"unsigned", ReleaseProblem::kNotSigned},
      {"altered", ReleaseProblem::kNotSigned},        {"larger than any manifest", ReleaseProblem::kNotSigned},
      {"another key", ReleaseProblem::kOtherKey},     {"newer format", ReleaseProblem::kNewerFormat},
      {"older release", ReleaseProblem::kRollback},   {"expired", ReleaseProblem::kExpired},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string what = c.what;
    publish({{"a.pak", "A"}}, {});
    std::string error;
    ASSERT_TRUE(release::writeAcceptedRelease(path("data/update/release.txt"), 5, &error));
    if (what == "missing") {
      server.files.erase("upd/3d/release.sig");
    } else if (what == "unsigned") {
      servedManifest() = release::formatManifestBody(manifest_);
    } else if (what == "altered") {
      std::string& text = servedManifest();
      text.replace(text.find("release 5"), 9, "release 6");
    } else if (what == "larger than any manifest") {
      server.files["upd/3d/release.sig"].announced = release::kMaxManifestSize + 1;
    } else if (what == "another key") {
      sign(otherKey_);
    } else if (what == "newer format") {
      servedManifest() = release::signManifestBody("tervalis-release 2\nwhatever comes\n", key_);
    } else if (what == "older release") {
      manifest_.release = 4;
      sign(key_);
    } else if (what == "expired") {
      manifest_.expires = kNow;
      sign(key_);
    }
    UpdateOutcome o = run();
    EXPECT_EQ(o.end, UpdateEnd::kReleaseRefused);
    EXPECT_EQ(o.release.problem, c.problem) << o.release.detail;
    EXPECT_EQ(server.requests, std::vector<std::string>{"upd/3d/release.sig"});
    EXPECT_FALSE(testutil::exists(path("a.pak")));
    EXPECT_FALSE(testutil::exists(tempPath()));
    EXPECT_EQ(acceptedRelease(), 5u);
    if (what == "missing") {
      EXPECT_EQ(o.release.status.code(), 404u);
      EXPECT_EQ(o.release.status.message(), "/3d/release.sig");
    }
    if (what == "larger than any manifest") {
      EXPECT_EQ(server.taken["upd/3d/release.sig"], 0u);
    }
    if (what == "expired") {
      EXPECT_EQ(o.release.expires, kNow);
    }
  }
}

TEST_F(SignedReleaseTest, RefusedListOrFileFailsLikeAFileThatCouldNotBeFetched) {
  const std::string big(5 * kHttpChunk + 17, 'b');
  struct Case {
    const char* what;
    const char* objectPath;
    const char* lastRequest;
    std::vector<std::string> installed;  // of a.pak, b.pak, c.pak
  } cases[] = {
      {"files.txt altered", "/3d/files.txt", "upd/3d/files.txt", {}},
      {"icon list altered", "/swf/clan_icons_list.txt", "ico/swf/clan_icons_list.txt", {}},
      {"file swapped, same size", "/3d/b.pak", "upd/3d/b.pak", {"a.pak"}},
      {"file of an older release", "/3d/b.pak", "upd/3d/b.pak", {"a.pak"}},
      {"file larger than named", "/3d/b.pak", "upd/3d/b.pak", {"a.pak"}},
      {"more bytes than announced", "/3d/b.pak", "upd/3d/b.pak", {"a.pak"}},
      {"file the manifest does not name", "/3d/b.pak", "upd/3d/a.pak", {"a.pak"}},
      {"new launcher swapped", "/3d/TervalisOnline2D.exe", "upd/3d/TervalisOnline2D.exe", {"a.pak", "b.pak", "c.pak"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string what = c.what;
    for (const char* f : {"a.pak", "b.pak", "c.pak"}) std::filesystem::remove(path(f));
    testutil::writeFile(path("TervalisOnline2D.exe"), "L1");
    std::string oldB = zipOf("b.pak", big.substr(1) + "o");  // what the last release served
    publish({{"a.pak", "A"}, {"b.pak", big}, {"c.pak", "C"}, {"TervalisOnline2D.exe", "L2"}}, {{"7.png", "i"}});
    Served& b = server.files["upd/3d/b.pak"];
    if (what == "files.txt altered") {
      server.files["upd/3d/files.txt"].body = zipOf("files.txt", line("evil.dll", "x"));
    } else if (what == "icon list altered") {
      server.files["ico/swf/clan_icons_list.txt"].body += line("8.png", "x");
    } else if (what == "file swapped, same size") {
      b.body[b.body.size() / 2] ^= 1;
    } else if (what == "file of an older release") {
      b.body = oldB;
    } else if (what == "file larger than named") {
      b.body += "tail";
    } else if (what == "more bytes than announced") {
      b.extra = 4 * kHttpChunk;
    } else if (what == "file the manifest does not name") {
      manifest_.files.erase(std::find_if(manifest_.files.begin(), manifest_.files.end(),
                                         [](const release::FileEntry& e) { return e.name == "b.pak"; }));
      sign(key_);
    } else if (what == "new launcher swapped") {
      server.files["upd/3d/TervalisOnline2D.exe"].body = zipOf("TervalisOnline2D.exe", "L3");
    }
    UpdateOutcome o = run();
    EXPECT_EQ(o.end, UpdateEnd::kFileFailed);
    EXPECT_EQ(o.status.code(), kFetchErrorRefused);
    EXPECT_EQ(o.status.message(), c.objectPath);
    EXPECT_EQ(o.overrun, 0);
    for (const char* f : {"a.pak", "b.pak", "c.pak"}) {
      bool wanted = std::find(c.installed.begin(), c.installed.end(), f) != c.installed.end();
      EXPECT_EQ(testutil::exists(path(f)), wanted) << f;
    }
    EXPECT_EQ(testutil::readFile(path("TervalisOnline2D.exe")), "L1");
    EXPECT_FALSE(testutil::exists(path("TervalisOnline2D.exe.new")));
    EXPECT_FALSE(testutil::exists(path("files.txt")));
    EXPECT_FALSE(testutil::exists(path("clan_icons_list.txt")));
    EXPECT_FALSE(testutil::exists(tempPath()));
    EXPECT_EQ(server.requests.back(), c.lastRequest);
    // Never more than the manifest allows: refused unread when announced
    // larger, stopped at the first chunk beyond it otherwise.
    if (what == "file larger than named") {
      EXPECT_EQ(server.taken["upd/3d/b.pak"], 0u);
    }
    if (what == "more bytes than announced") {
      EXPECT_LE(server.taken["upd/3d/b.pak"], b.body.size() + kHttpChunk);
    }
  }
}

TEST_F(SignedReleaseTest, ListTheManifestDoesNotNameIsNotFetched) {
  publish({{"a.pak", "A"}}, {{"7.png", "icon"}});
  manifest_.files.erase(std::remove_if(manifest_.files.begin(), manifest_.files.end(),
                                       [](const release::FileEntry& e) { return e.origin == Origin::Icons; }),
                        manifest_.files.end());
  sign(key_);
  EXPECT_EQ(run().end, UpdateEnd::kPlay);
  EXPECT_EQ(server.requests, (std::vector<std::string>{"upd/3d/release.sig", "upd/3d/files.txt", "upd/3d/a.pak"}));
  EXPECT_FALSE(testutil::exists(path("data/textures/7.png")));
}

// With a key, a list the manifest names is part of the release: an error
// status for it is no empty list but a list that could not be fetched (the
// question), and nothing of the release is recorded.
TEST_F(SignedReleaseTest, NamedListAnsweredWithAnErrorStatusFails) {
  for (int status : {404, 500}) {
    SCOPED_TRACE(status);
    std::filesystem::remove(path("data/update/release.txt"));
    publish({{"a.pak", "A"}}, {{"7.png", "icon"}});
    server.files["upd/3d/files.txt"].status = status;
    UpdateOutcome o = run();
    EXPECT_EQ(o.end, UpdateEnd::kListFailed);
    EXPECT_EQ(o.status.code(), static_cast<uint32_t>(status));
    EXPECT_EQ(o.status.message(), "/3d/files.txt");
    EXPECT_FALSE(testutil::exists(path("a.pak")));
    EXPECT_FALSE(testutil::exists(path("data/textures/7.png")));
    EXPECT_EQ(release::readAcceptedRelease(path("data/update/release.txt")).state,
              release::AcceptedRelease::State::Missing);
    // 500 is transient: asked again after the pauses, then given up.
    EXPECT_EQ(std::count(server.requests.begin(), server.requests.end(), "upd/3d/files.txt"), status == 500 ? 3 : 1);
  }
}

// Only a missing record is no record. One that cannot be read refuses the
// run untouched (a replayed older release must not pass); damaged contents
// count as the release the launcher was built for.
TEST_F(SignedReleaseTest, RecordThatCannotBeReadIsNeverTakenAsNone) {
  const std::string record = path("data/update/release.txt");
  struct Case {
    const char* what;
    uint64_t served;
    ReleaseProblem problem;
    uint64_t recordedAfter;  // 0: the record is not a number afterwards
  } cases[] = {
      {"unreadable, older release replayed", 3, ReleaseProblem::kRecordUnreadable, 0},
      {"damaged, release below the floor", 5, ReleaseProblem::kRollback, 0},
      {"damaged, release at the floor", 6, ReleaseProblem::kNone, 6},
      {"damaged, newer release", 8, ReleaseProblem::kNone, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(record);
    std::string what = c.what;
    // A directory in its place cannot be read, on both systems.
    if (what.compare(0, 10, "unreadable") == 0)
      std::filesystem::create_directory(record);
    else
      testutil::writeFile(record, "garbage\n");
    publish({{"a.pak", "A"}}, {});
    manifest_.release = c.served;
    sign(key_);
    updater_.reset(new Updater(testutil::settings(), nullptr));
    withKey(*updater_);
    updater_->releaseFloor = 6;
    UpdateOutcome o = runUpdate(*updater_, server, false);
    EXPECT_EQ(o.release.problem, c.problem) << o.release.detail;
    EXPECT_EQ(o.end, c.problem == ReleaseProblem::kNone ? UpdateEnd::kPlay : UpdateEnd::kReleaseRefused);
    release::AcceptedRelease after = release::readAcceptedRelease(record);
    EXPECT_EQ(after.number, c.recordedAfter);
    if (c.problem != ReleaseProblem::kNone) {
      EXPECT_EQ(server.requests, std::vector<std::string>{"upd/3d/release.sig"});
      EXPECT_NE(after.state, release::AcceptedRelease::State::Ok);  // as it was
    }
    if (c.problem == ReleaseProblem::kRecordUnreadable) EXPECT_EQ(o.release.detail, ".\\data\\update\\release.txt");
  }
}

// The race of two launchers on one install: a second one, started while the
// first is in the middle of fetching the new launcher and fed an unsigned
// one, waits until the first run has ended, touching no staged byte, and
// then finds everything current.
TEST_F(SignedReleaseTest, SecondLauncherWaitsForTheFirstRun) {
  testutil::writeFile(path("TervalisOnline2D.exe"), "L1");
  publish({{"a.pak", "A"}, {"TervalisOnline2D.exe", "L2"}}, {});
  Server evil = server;
  evil.files["upd/3d/TervalisOnline2D.exe"].body = zipOf("TervalisOnline2D.exe", "EVIL LAUNCHER");
  WaitWatch watch;
  std::unique_ptr<Updater> second;
  UpdateOutcome secondOutcome;
  std::thread secondRun;
  server.onRequest = [&](const std::string& key) {
    if (key != "upd/3d/TervalisOnline2D.exe" || secondRun.joinable()) return;
    secondRun = std::thread([&] {
      second.reset(new Updater(testutil::settings(), &watch));
      withKey(*second);
      secondOutcome = runUpdate(*second, evil, false);
      std::lock_guard<std::mutex> hold(watch.lock);
      watch.done = true;
      watch.changed.notify_all();
    });
    std::unique_lock<std::mutex> hold(watch.lock);
    watch.changed.wait(hold, [&] { return watch.waiting || watch.done; });
  };
  EXPECT_EQ(run().end, UpdateEnd::kRestart);
  ASSERT_TRUE(secondRun.joinable());
  secondRun.join();
  EXPECT_TRUE(watch.waiting) << "the second run did not wait for the first";
  EXPECT_EQ(secondOutcome.end, UpdateEnd::kPlay);
  EXPECT_EQ(testutil::readFile(path("TervalisOnline2D.exe")), "L2");
  EXPECT_EQ(evil.requests, (std::vector<std::string>{"upd/3d/release.sig", "upd/3d/files.txt",
                                                     "ico/swf/clan_icons_list.txt"}));
  EXPECT_EQ(acceptedRelease(), 5u);
}

// A partial an earlier run left, altered on disk before this run resumes
// it: the continuation is refused (the SHA-256 covers the staged bytes too),
// and the file is fetched whole once more.
TEST_F(SignedReleaseTest, AlteredStagedPrefixIsRefusedAndFetchedWhole) {
  std::mt19937 random(7);
  std::string big(kKeepPartialBytes + 5000, '\0');
  for (char& c : big) c = static_cast<char>(random());  // the archive is no smaller
  publish({{"b.pak", big}}, {});
  Served& b = server.files["upd/3d/b.pak"];
  b.etag = "\"e\"";
  std::string digest = md5Hex(*hasher_, reinterpret_cast<const uint8_t*>(big.data()), static_cast<uint32_t>(big.size()));
  ASSERT_GE(b.body.size(), static_cast<size_t>(kKeepPartialBytes));
  std::string partial = path("data/update/part-" + digest + ".tmp");
  std::string prefix = b.body.substr(0, 600000);
  prefix[1000] ^= 1;
  testutil::writeFile(partial, prefix);
  ASSERT_TRUE(writePartialInfo(partial, PartialInfo{digest, static_cast<int64_t>(big.size()),
                                                    static_cast<int64_t>(b.body.size()), 600000, b.etag}));
  UpdateOutcome o = run();
  EXPECT_EQ(o.end, UpdateEnd::kPlay);
  EXPECT_EQ(server.ranges, (std::vector<int64_t>{600000, 0}));
  EXPECT_EQ(testutil::readFile(path("b.pak")), big);
  EXPECT_EQ(staged(), std::vector<std::string>());
}

}  // namespace

}  // namespace tvl
