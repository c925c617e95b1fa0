// The worker's decisions over a fake server and a scratch program directory:
// what it fetches, in which order, what it installs and how a run ends.
#include "update/worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "../transfer/download_test_util.h"
#include "transfer/resume.h"
#include "update/local_hash.h"

namespace tvl {


namespace {

struct Answer {
  int status = 200;
  std::string body;
  uint32_t connectError = 0;  // not 0: no response at all
  int32_t announced = -1;     // Content-Length, when not the body's size
};

class FakeServer : public HttpClient {
 public:
  HttpResult get(const HttpRequest& request, HttpSink& sink) override {
    {
      std::lock_guard<std::mutex> hold(lock);
      requests.push_back(request.host + request.objectPath);
      if (++inFlight > maxInFlight) maxInFlight = inFlight;
    }
    if (pause.count()) std::this_thread::sleep_for(pause);
    HttpResult r = answer(request, sink);
    std::lock_guard<std::mutex> hold(lock);
    --inFlight;
    return r;
  }
  HttpResult answer(const HttpRequest& request, HttpSink& sink) {
    auto it = answers.find(request.host + request.objectPath);
    Answer a = it == answers.end() ? Answer{404, "<html>missing</html>"} : it->second;
    if (a.connectError) return {HttpOutcome::kNotStarted, a.connectError};
    HttpResponseHead head;
    head.status = a.status;
    head.hasContentLength = true;
    head.contentLength = a.announced >= 0 ? a.announced : static_cast<int32_t>(a.body.size());
    if (!sink.onHead(head)) return {HttpOutcome::kRefused, 0};
    if (!a.body.empty() && !sink.onData(a.body.data(), a.body.size())) return {HttpOutcome::kEnded, 0};
    return {HttpOutcome::kEnded, 0};
  }
  std::map<std::string, Answer> answers;
  std::vector<std::string> requests;
  std::chrono::milliseconds pause{0};
  std::mutex lock;
  int inFlight = 0;
  int maxInFlight = 0;
};

class WorkerTest : public StagingTest {
 protected:
  void SetUp() override {
    StagingTest::SetUp();
    testutil::settings().update = ServerLocation{"upd", "/3d/"};
    testutil::settings().icons = ServerLocation{"ico", "/swf/"};
    hasher_.reset(new Updater(testutil::settings(), nullptr));
    ASSERT_TRUE(acquireCryptProvider(*hasher_));
  }
  void TearDown() override {
    releaseCryptProvider(*hasher_);
    testutil::settings().update = ServerLocation();
    testutil::settings().icons = ServerLocation();
    StagingTest::TearDown();
  }
  std::string md5(const std::string& bytes) {
    return md5Hex(*hasher_, reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
  }
  std::string line(const std::string& name, const std::string& content) {
    return name + "\tx\ty\t" + std::to_string(content.size()) + "\t" + md5(content) + "\r\n";
  }
  // Publishes files.txt (packed entries) and the icon list (plain entries).
  void publish(const std::vector<std::pair<std::string, std::string>>& packed,
               const std::vector<std::pair<std::string, std::string>>& icons) {
    std::string list, iconList;
    for (const auto& f : packed) {
      list += line(f.first, f.second);
      server.answers["upd/3d/" + f.first] = Answer{200, zipOf("item", f.second)};
    }
    for (const auto& f : icons) {
      iconList += line(f.first, f.second);
      server.answers["ico/swf/" + f.first] = Answer{200, f.second};
    }
    server.answers["upd/3d/files.txt"] = Answer{200, zipOf("files.txt", list)};
    server.answers["ico/swf/clan_icons_list.txt"] = Answer{200, iconList};
  }
  // Each run is a new process: a new Updater.
  UpdateOutcome run(bool restarted = false, int connections = 1) {
    updater_.reset(new Updater(testutil::settings(), nullptr, launcherName_));
    updater_->options.connections = connections;
    updater_->retryDelayForTesting = 1;
    return runUpdate(*updater_, server, restarted);
  }
  FakeServer server;
  std::string launcherName_ = "TervalisOnline2D.exe";
  std::unique_ptr<Updater> hasher_;  // only its digest provider
};

TEST_F(WorkerTest, FetchesWhatIsMissingOrDifferentInListOrder) {
  testutil::writeFile(path("same.pak"), "same");
  testutil::writeFile(path("old.pak"), "old");
  std::filesystem::create_directories(path("data/textures"));
  testutil::writeFile(path("data/textures/7.png"), "icon");
  publish({{"new.pak", "new"}, {"same.pak", "same"}, {"old.pak", "newer"}, {"../escape.pak", "x"}},
          {{"7.png", "icon"}, {"8.png", "icon8"}});
  UpdateOutcome o = run();
  EXPECT_EQ(o.end, UpdateEnd::kPlay);
  // old.pak could be patched: the server is asked for a patch list.
  EXPECT_EQ(server.requests,
            (std::vector<std::string>{"upd/3d/files.txt", "upd/3d/files-large.txt", "ico/swf/clan_icons_list.txt",
                                      "upd/3d/patches.txt", "upd/3d/new.pak", "upd/3d/old.pak", "ico/swf/8.png"}));
  EXPECT_EQ(testutil::readFile(path("new.pak")), "new");
  EXPECT_EQ(testutil::readFile(path("old.pak")), "newer");
  EXPECT_EQ(testutil::readFile(path("data/textures/8.png")), "icon8");
  EXPECT_FALSE(testutil::exists(path("files.txt")));
  EXPECT_FALSE(testutil::exists(path("clan_icons_list.txt")));
  ProgressSnapshot p = updater_->progress.snapshot();
  EXPECT_EQ(p.bytesTotal, 3 + 5 + 5);
}

// A digest in lower case never matches the file's upper-case text: such a
// file is fetched on every run.
TEST_F(WorkerTest, LowerCaseDigestIsAlwaysFetched) {
  testutil::writeFile(path("a.pak"), "a");
  publish({}, {});
  std::string list = "a.pak\tx\ty\t1\t" + md5("a") + "\r\n";
  for (char& c : list) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  server.answers["upd/3d/files.txt"] = Answer{200, zipOf("files.txt", list)};
  server.answers["upd/3d/a.pak"] = Answer{200, zipOf("item", "a")};
  EXPECT_EQ(run().end, UpdateEnd::kPlay);
  EXPECT_EQ(server.requests.back(), "upd/3d/a.pak");
}

// A list the server answers with an error status is a list without
// entries, its page never read; only a list that cannot be fetched at all
// fails the run.
TEST_F(WorkerTest, HowARunEnds) {
  const std::string pageLikeList = line("z.pak", "Z");  // never published: reading it would fetch z.pak
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, Answer>> broken;  // answered so instead
    UpdateEnd end;
    uint32_t code;
    const char* objectPath;
    std::vector<std::string> fetched;  // listed files requested, in order
  } cases[] = {
      {"both lists answered", {}, UpdateEnd::kPlay, 0, "",
       {"upd/3d/a.pak", "upd/3d/b.pak", "upd/3d/c.pak", "ico/swf/i.png"}},
      {"files.txt cannot connect", {{"upd/3d/files.txt", {0, "", 12029}}}, UpdateEnd::kListFailed, 12029,
       "/3d/files.txt", {}},
      {"icon list cannot connect", {{"ico/swf/clan_icons_list.txt", {0, "", 12007}}}, UpdateEnd::kListFailed, 12007,
       "/swf/clan_icons_list.txt", {}},
      {"icon list cut short", {{"ico/swf/clan_icons_list.txt", {200, pageLikeList, 0, 1000}}},
       UpdateEnd::kListFailed, kHttpErrorConnectionAborted, "/swf/clan_icons_list.txt", {}},
      {"icon list 404", {{"ico/swf/clan_icons_list.txt", {404, pageLikeList}}}, UpdateEnd::kPlay, 0, "",
       {"upd/3d/a.pak", "upd/3d/b.pak", "upd/3d/c.pak"}},
      {"files.txt 500", {{"upd/3d/files.txt", {500, zipOf("files.txt", pageLikeList)}}}, UpdateEnd::kPlay, 0, "",
       {"ico/swf/i.png"}},
      {"both lists 404", {{"upd/3d/files.txt", {404, ""}}, {"ico/swf/clan_icons_list.txt", {404, pageLikeList}}},
       UpdateEnd::kNoEntries, 0, "", {}},
      {"both lists empty", {{"upd/3d/files.txt", {200, zipOf("files.txt", "")}}, {"ico/swf/clan_icons_list.txt", {}}},
       UpdateEnd::kNoEntries, 0, "", {}},
      {"a file 404", {{"upd/3d/b.pak", {404, "gone"}}}, UpdateEnd::kFileFailed, 404, "/3d/b.pak",
       {"upd/3d/a.pak", "upd/3d/b.pak"}},
      {"large list names a file",
       {{"upd/3d/files-large.txt", {200, zipOf("files-large.txt", line("big.pak", "G"))}},
        {"upd/3d/big.pak", {200, zipOf("item", "G")}}},
       UpdateEnd::kPlay, 0, "", {"upd/3d/a.pak", "upd/3d/b.pak", "upd/3d/c.pak", "upd/3d/big.pak", "ico/swf/i.png"}},
      {"large list cannot connect", {{"upd/3d/files-large.txt", {0, "", 12029}}}, UpdateEnd::kListFailed, 12029,
       "/3d/files-large.txt", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* f : {"a.pak", "b.pak", "c.pak", "big.pak", "data/textures/i.png"}) std::filesystem::remove(path(f));
    server.answers.clear();
    server.requests.clear();
    publish({{"a.pak", "A"}, {"b.pak", "B"}, {"c.pak", "C"}}, {{"i.png", "I"}});
    for (const auto& b : c.broken) server.answers[b.first] = b.second;
    UpdateOutcome o = run();
    EXPECT_EQ(o.end, c.end);
    EXPECT_EQ(o.status.code(), c.code);
    EXPECT_EQ(o.status.message(), c.objectPath);
    std::vector<std::string> fetched;
    for (const std::string& r : server.requests)
      if (r != "upd/3d/files.txt" && r != "upd/3d/files-large.txt" && r != "ico/swf/clan_icons_list.txt")
        fetched.push_back(r);
    EXPECT_EQ(fetched, c.fetched);
    // What was fetched is installed, except the file that failed.
    for (const std::string& f : c.fetched) {
      std::string local = (f.compare(0, 4, "ico/") == 0 ? "data/textures/" : "") + f.substr(f.rfind('/') + 1);
      bool failed = c.end == UpdateEnd::kFileFailed && f == c.fetched.back();
      EXPECT_NE(testutil::exists(path(local)), failed) << local;
    }
    EXPECT_FALSE(testutil::exists(tempPath()));
  }
}

// Several transfers at once end exactly where one at a time would: every
// file before the first failure in list order installed, none after it,
// nothing left in staging.
TEST_F(WorkerTest, ConcurrentFetchingEndsInTheSequentialState) {
  std::vector<std::pair<std::string, std::string>> files;
  for (int i = 0; i < 12; ++i) files.push_back({"f" + std::to_string(i) + ".pak", "content " + std::to_string(i)});
  for (bool broken : {false, true}) {
    SCOPED_TRACE(broken ? "f6 missing" : "all there");
    for (const auto& f : files) std::filesystem::remove(path(f.first));
    server.answers.clear();
    publish(files, {});
    if (broken) server.answers.erase("upd/3d/f6.pak");
    server.pause = std::chrono::milliseconds(10);
    server.maxInFlight = 0;
    UpdateOutcome o = run(false, 4);
    server.pause = std::chrono::milliseconds(0);
    EXPECT_EQ(o.end, broken ? UpdateEnd::kFileFailed : UpdateEnd::kPlay);
    if (broken) EXPECT_EQ(o.status.message(), "/3d/f6.pak");
    for (int i = 0; i < 12; ++i) {
      bool installed = !broken || i < 6;
      EXPECT_EQ(testutil::exists(path(files[i].first)), installed) << i;
      if (installed) EXPECT_EQ(testutil::readFile(path(files[i].first)), files[i].second);
    }
    EXPECT_LE(server.maxInFlight, 4);
    EXPECT_GE(server.maxInFlight, 2);
    EXPECT_EQ(staged(), std::vector<std::string>());
  }
}

// What killed runs left in staging goes at the next run's fetch, except a
// partial of a file it still has to fetch.
TEST_F(WorkerTest, StagingOfKilledRunsIsClearedButWantedPartialsStay) {
  const std::string big(kKeepPartialBytes + 10, 'b');
  publish({{"big.pak", big}, {"a.pak", "A"}}, {});
  server.answers.erase("upd/3d/big.pak");  // the partial outlives this run
  const std::string wanted = "data/update/part-" + md5(big) + ".tmp";
  const std::string stale = "data/update/part-" + md5("gone") + ".tmp";
  for (const std::string& f : {wanted, stale, std::string("data/update/update.tmp.3")}) testutil::writeFile(path(f), "x");
  ASSERT_TRUE(writePartialInfo(path(wanted), PartialInfo{md5(big), static_cast<int64_t>(big.size()), 100, 1, "\"e\""}));
  ASSERT_TRUE(writePartialInfo(path(stale), PartialInfo{md5("gone"), 4, 100, 1, "\"e\""}));
  EXPECT_EQ(run(false, 4).end, UpdateEnd::kFileFailed);
  EXPECT_TRUE(testutil::exists(path(wanted)) && testutil::exists(path(wanted + ".resume")));
  for (const std::string& f : {stale, stale + ".resume", std::string("data/update/update.tmp.3")})
    EXPECT_FALSE(testutil::exists(path(f))) << f;
}

TEST_F(WorkerTest, RefusedProviderEndsBeforeAnyRequest) {
  publish({{"a.pak", "A"}}, {});
  failCryptProviderForTesting(true);
  UpdateOutcome o = run();
  failCryptProviderForTesting(false);
  EXPECT_EQ(o.end, UpdateEnd::kCannotStart);
  EXPECT_TRUE(server.requests.empty());
}

// One server carries both launchers; each install swaps in the one named
// like itself, and the other arrives as an ordinary file.
TEST_F(WorkerTest, NewLauncherIsSwappedInOnceAndNeverAgainAfterARestart) {
  for (const char* own : {"TervalisOnline2D.exe", "TervalisOnline2D"}) {
    SCOPED_TRACE(own);
    const std::string other = std::string(own) == "TervalisOnline2D.exe" ? "TervalisOnline2D" : "TervalisOnline2D.exe";
    for (const auto& f : std::filesystem::directory_iterator(path("")))
      if (f.is_regular_file()) std::filesystem::remove(f.path());
    launcherName_ = own;
    testutil::writeFile(path(own), "L1");
    publish({{own, "L2"}, {other, "W2"}}, {});
    server.answers["upd/3d/" + std::string(own)] = Answer{200, zipOf(own, "L2")};
    server.answers["upd/3d/" + other] = Answer{200, zipOf(other, "W2")};
    EXPECT_EQ(run().end, UpdateEnd::kRestart);
    EXPECT_EQ(testutil::readFile(path(own)), "L2");
    EXPECT_EQ(testutil::readFile(path(std::string(own) + ".old")), "L1");
    EXPECT_EQ(testutil::readFile(path(other)), "W2");
    EXPECT_FALSE(testutil::exists(path(std::string(own) + ".new")));
    EXPECT_FALSE(testutil::exists(path(other + ".new")));

    // The restarted launcher is offered yet another one: it keeps itself.
    publish({{own, "L3"}, {other, "W2"}}, {});
    server.answers["upd/3d/" + std::string(own)] = Answer{200, zipOf(own, "L3")};
    server.answers["upd/3d/" + other] = Answer{200, zipOf(other, "W2")};
    EXPECT_EQ(run(true).end, UpdateEnd::kSelfUpdateLoop);
    EXPECT_EQ(testutil::readFile(path(own)), "L2");
    EXPECT_FALSE(testutil::exists(path(std::string(own) + ".new")));
    EXPECT_FALSE(testutil::exists(path(std::string(own) + ".old")));  // cleared by the restarted one
  }
}

}  // namespace

}  // namespace tvl
