// The worker's decisions over a fake server and a scratch program directory:
// what it fetches, in which order, what it installs and how a run ends.
#include "update/worker.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "../transfer/download_test_util.h"
#include "update/local_hash.h"

namespace {

struct Answer {
  int status = 200;
  std::string body;
  uint32_t connectError = 0;  // not 0: no response at all
};

class FakeServer : public HttpClient {
 public:
  HttpResult get(const HttpRequest& request, HttpSink& sink) override {
    requests.push_back(request.host + request.objectPath);
    auto it = answers.find(request.host + request.objectPath);
    Answer a = it == answers.end() ? Answer{404, "<html>missing</html>"} : it->second;
    if (a.connectError) return {HttpOutcome::kNotStarted, a.connectError};
    if (!sink.onResponse(a.status, true, static_cast<int32_t>(a.body.size()))) return {HttpOutcome::kRefused, 0};
    if (!a.body.empty() && !sink.onData(a.body.data(), a.body.size())) return {HttpOutcome::kEnded, 0};
    return {HttpOutcome::kEnded, 0};
  }
  std::map<std::string, Answer> answers;
  std::vector<std::string> requests;
};

std::string zipOf(const std::string& name, const std::string& data) {
  std::string path = testutil::TempDir().path() + ".zip";
  writeZip(path, {{name, data}});
  std::string bytes = testutil::readFile(path);
  std::remove(path.c_str());
  return bytes;
}

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
  UpdateOutcome run(bool restarted = false) {
    updater_.reset(new Updater(testutil::settings(), nullptr));
    return runUpdate(*updater_, server, restarted);
  }
  FakeServer server;
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
  EXPECT_EQ(server.requests, (std::vector<std::string>{"upd/3d/files.txt", "ico/swf/clan_icons_list.txt",
                                                       "upd/3d/new.pak", "upd/3d/old.pak", "ico/swf/8.png"}));
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

TEST_F(WorkerTest, HowARunEnds) {
  struct Case {
    const char* what;
    const char* brokenPath;  // answered with brokenAnswer instead
    Answer brokenAnswer;
    UpdateEnd end;
    uint32_t code;
    const char* objectPath;
  } cases[] = {
      {"all current", "", {}, UpdateEnd::kPlay, 0, ""},
      {"files.txt cannot connect", "upd/3d/files.txt", {0, "", 12029}, UpdateEnd::kListFailed, 12029, "/3d/files.txt"},
      {"icon list 500", "ico/swf/clan_icons_list.txt", {500, "oops"}, UpdateEnd::kListFailed, 500,
       "/swf/clan_icons_list.txt"},
      {"a file 404", "upd/3d/b.pak", {404, "gone"}, UpdateEnd::kFileFailed, 404, "/3d/b.pak"},
      {"both lists empty", "*empty", {}, UpdateEnd::kNoEntries, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* f : {"a.pak", "b.pak", "c.pak"}) std::filesystem::remove(path(f));
    server = FakeServer();
    publish({{"a.pak", "A"}, {"b.pak", "B"}, {"c.pak", "C"}}, {});
    if (std::string(c.brokenPath) == "*empty") {
      publish({}, {});
    } else if (*c.brokenPath) {
      server.answers[c.brokenPath] = c.brokenAnswer;
    }
    UpdateOutcome o = run();
    EXPECT_EQ(o.end, c.end);
    EXPECT_EQ(o.status.code(), c.code);
    EXPECT_EQ(o.status.message(), c.objectPath);
    if (c.end == UpdateEnd::kFileFailed) {
      // Everything before the failure is installed, nothing after it.
      EXPECT_EQ(testutil::readFile(path("a.pak")), "A");
      EXPECT_FALSE(testutil::exists(path("b.pak")));
      EXPECT_FALSE(testutil::exists(path("c.pak")));
      EXPECT_EQ(server.requests.back(), "upd/3d/b.pak");
    }
    EXPECT_FALSE(testutil::exists(tempPath()));
  }
}

TEST_F(WorkerTest, RefusedProviderEndsBeforeAnyRequest) {
  publish({{"a.pak", "A"}}, {});
  failCryptProviderForTesting(true);
  UpdateOutcome o = run();
  failCryptProviderForTesting(false);
  EXPECT_EQ(o.end, UpdateEnd::kCannotStart);
  EXPECT_TRUE(server.requests.empty());
}

TEST_F(WorkerTest, NewLauncherIsSwappedInOnceAndNeverAgainAfterARestart) {
  testutil::writeFile(path("TervalisOnline2D.exe"), "L1");
  publish({{"TervalisOnline2D.exe", "L2"}}, {});
  server.answers["upd/3d/TervalisOnline2D.exe"] = Answer{200, zipOf("TervalisOnline2D.exe", "L2")};
  EXPECT_EQ(run().end, UpdateEnd::kRestart);
  EXPECT_EQ(testutil::readFile(path("TervalisOnline2D.exe")), "L2");
  EXPECT_EQ(testutil::readFile(path("TervalisOnline2D.exe.old")), "L1");
  EXPECT_FALSE(testutil::exists(path("TervalisOnline2D.exe.new")));

  // The restarted launcher is offered yet another one: it keeps itself.
  publish({{"TervalisOnline2D.exe", "L3"}}, {});
  server.answers["upd/3d/TervalisOnline2D.exe"] = Answer{200, zipOf("TervalisOnline2D.exe", "L3")};
  EXPECT_EQ(run(true).end, UpdateEnd::kSelfUpdateLoop);
  EXPECT_EQ(testutil::readFile(path("TervalisOnline2D.exe")), "L2");
  EXPECT_FALSE(testutil::exists(path("TervalisOnline2D.exe.new")));
}

}  // namespace
