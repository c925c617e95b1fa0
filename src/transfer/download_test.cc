#include "transfer/download.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "download_test_util.h"
#include "transfer/content_length.h"
#include "transfer/http.h"

namespace tvl {


namespace {

constexpr int32_t kAuto = INT32_MIN;  // Content-Length: the size of the chunks

// Plays back one scripted response and records the requests.
struct Script {
  bool starts = true;
  uint32_t startError = 0;
  int status = 200;
  bool hasLength = true;
  int32_t length = kAuto;
  std::vector<std::string> chunks;
  HttpOutcome end = HttpOutcome::kEnded;  // after the last chunk
  uint32_t endError = 0;
};

class FakeHttp : public HttpClient {
 public:
  explicit FakeHttp(Script s) : script(std::move(s)) {}
  HttpResult get(const HttpRequest& request, HttpSink& sink) override {
    requests.push_back(request);
    if (!script.starts) return {HttpOutcome::kNotStarted, script.startError};
    int32_t total = 0;
    for (const std::string& c : script.chunks) total += static_cast<int32_t>(c.size());
    if (!sink.onResponse(script.status, script.hasLength, script.length == kAuto ? total : script.length))
      return {HttpOutcome::kRefused, 0};
    for (const std::string& c : script.chunks) {
      ++delivered;
      if (!sink.onData(c.data(), c.size())) return {HttpOutcome::kEnded, 0};
    }
    return {script.end, script.endError};
  }
  Script script;
  std::vector<HttpRequest> requests;
  int delivered = 0;
};

class DownloadTest : public StagingTest {
 protected:
  DownloadSession& session() {
    if (!session_) session_.reset(new DownloadSession(updater_->session(http_)));
    return *session_;
  }
  FetchResult fetch(HttpClient& client, const HttpRequest& request) {
    DownloadSession s = updater_->session(client);
    return fetchToTempFile(s, request);
  }
  FakeHttp http_{Script()};
  std::unique_ptr<DownloadSession> session_;
};

TEST(Download, RequestIsThePlainConcatenation) {
  testutil::settings().game.socksServer = "";
  testutil::settings().game.socksPort = "1080";
  const GameSettings& game = testutil::settings().game;
  struct Case {
    const char* prefix;
    const char* name;
    const char* object;
  } cases[] = {
      {"/3d/", "data/a.pak", "/3d/data/a.pak"},
      {"/3d/", "/lead.pak", "/3d//lead.pak"},  // nothing removed
      {"", "x y.pak", "x y.pak"},              // nothing escaped
      {"/swf", "a.png", "/swfa.png"},          // nothing inserted
  };
  for (const Case& c : cases) {
    HttpRequest r = buildDownloadRequest(game, ServerLocation{"upd.example", c.prefix}, c.name);
    EXPECT_EQ(r.objectPath, c.object);
    EXPECT_EQ(r.host, "upd.example");
    EXPECT_EQ(r.port, 80);
    EXPECT_EQ(r.agent, "TervalisOnline2D");
    EXPECT_EQ(r.socksServer, "");
  }
  testutil::settings().game.socksServer = "px.example";
  HttpRequest r = buildDownloadRequest(game, ServerLocation{"h", "/"}, "f");
  EXPECT_EQ(r.socksServer, "px.example");
  EXPECT_EQ(r.socksPort, "1080");
  testutil::settings().game = GameSettings();
}

// Every way a response can fall short of "200, Content-Length, that many
// bytes" is a failed transfer, and the staging file does not survive it.
TEST_F(DownloadTest, OnlyTheWholeAnnouncedBodyOfA200Counts) {
  struct Case {
    const char* what;
    Script script;
    bool complete;
    uint32_t code;
    std::string content;
    int32_t overrun;
  } cases[] = {
      {"body in chunks", {true, 0, 200, true, kAuto, {"abc", "defg"}}, true, 0, "abcdefg", 0},
      {"empty body", {true, 0, 200, true, 0, {}}, true, 0, "", 0},
      {"cannot connect", {false, kHttpErrorCannotConnect}, false, 12029, "", 0},
      {"404 with a page", {true, 0, 404, true, kAuto, {"<html>gone</html>"}}, false, 404, "", 0},
      {"500 with a page", {true, 0, 500, true, kAuto, {"<html>oops</html>"}}, false, 500, "", 0},
      {"206 partial", {true, 0, 206, true, kAuto, {"abc"}}, false, 206, "", 0},
      {"no Content-Length", {true, 0, 200, false, 0, {"abc"}}, false, 12150, "", 0},
      {"negative Content-Length", {true, 0, 200, true, -5, {"abc"}}, false, 12152, "", 0},
      {"closed early", {true, 0, 200, true, 10, {"abc"}}, false, 12030, "", 0},
      {"closed before any byte", {true, 0, 200, true, 10, {}}, false, 12030, "", 0},
      {"stalled", {true, 0, 200, true, 10, {"abc"}, HttpOutcome::kBroken, kHttpErrorTimeout}, false, 12002, "",
       0},
      {"more than announced", {true, 0, 200, true, 5, {"abc", "defg"}}, false, 12152, "", -2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeHttp http(c.script);
    HttpRequest request;
    request.objectPath = "/3d/a.pak";
    FetchResult r = fetch(http, request);
    EXPECT_EQ(r.ok(), c.complete);
    EXPECT_EQ(r.status.code(), c.code);
    EXPECT_EQ(r.status.message(), c.complete ? "" : "/3d/a.pak");
    EXPECT_EQ(r.overrun, c.overrun);
    EXPECT_EQ(testutil::exists(tempPath()), c.complete);
    if (c.complete) EXPECT_EQ(testutil::readFile(tempPath()), c.content);
  }
}

TEST_F(DownloadTest, ReceivingStopsAtTheAnnouncedLength) {
  FakeHttp http(Script{true, 0, 200, true, 3, {"abc", "def"}});
  FetchResult r = fetch(http, HttpRequest());
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(http.delivered, 1);
  EXPECT_EQ(testutil::readFile(tempPath()), "abc");
}

// The lists are fetched while bytesTotal is 0: their bytes never count.
TEST_F(DownloadTest, BytesCountOnlyOnceTheTotalIsKnown) {
  FakeHttp http(Script{true, 0, 200, true, kAuto, {"abcd", "ef"}});
  fetch(http, HttpRequest());
  EXPECT_EQ(updater_->progress.snapshot().bytesDone, 0);
  updater_->progress.setBytesTotal(100);
  fetch(http, HttpRequest());
  fetch(http, HttpRequest());
  EXPECT_EQ(updater_->progress.snapshot().bytesDone, 12);
}

TEST_F(DownloadTest, StagingFileThatCannotBeOpenedIsReportedWithErrno) {
  // A directory where the staging file belongs can never be opened for
  // writing; the download gives up after its attempts without a request.
  std::filesystem::create_directories(tempPath());
  FakeHttp http(Script{true, 0, 200, true, kAuto, {"abc"}});
  FetchResult r = fetch(http, HttpRequest());
  EXPECT_FALSE(r.ok());
#ifdef _WIN32
  EXPECT_EQ(r.status.code(), static_cast<uint32_t>(EACCES));
#else
  EXPECT_EQ(r.status.code(), static_cast<uint32_t>(EISDIR));
#endif
  EXPECT_TRUE(http.requests.empty());
  EXPECT_TRUE(std::filesystem::is_directory(tempPath()));
}

TEST_F(DownloadTest, PlainFileIsMovedBelowItsDirectory) {
  testutil::writeFile(tempPath(), "new icon");
  installFetchedFile(session(), "clan/7.png", false, "data/textures/");
  EXPECT_EQ(testutil::readFile(path("data/textures/clan/7.png")), "new icon");
  EXPECT_FALSE(testutil::exists(tempPath()));

  testutil::writeFile(tempPath(), "newer");
  installFetchedFile(session(), "clan/7.png", false, "data/textures/");
  EXPECT_EQ(testutil::readFile(path("data/textures/clan/7.png")), "newer");
}

TEST_F(DownloadTest, PackedItemsLandUnderTheEntryName) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> items;
    const char* entryContent;     // at "" + "data/a.pak", or nullptr for untouched
    const char* launcherContent;  // at TervalisOnline2D.exe.new, or nullptr for absent
  } cases[] = {
      {"any item name", {{"whatever.bin", "A2"}}, "A2", 0},
      {"the launcher, any case", {{"tervalisonline2d.EXE", "L2"}}, "A1", "L2"},
      {"the launcher in a folder is not the launcher", {{"bin/TervalisOnline2D.exe", "B2"}}, "B2", 0},
      // An item after the launcher must not overwrite the new launcher.
      {"launcher, then the file", {{"TervalisOnline2D.exe", "L3"}, {"a.pak", "A3"}}, "A3", "L3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::create_directories(path("data"));
    testutil::writeFile(path("data/a.pak"), "A1");
    std::filesystem::remove(path("TervalisOnline2D.exe.new"));
    writeZip(tempPath(), c.items);
    updater_->progress.setCurrentFile("data/a.pak");
    installFetchedFile(session(), "data/a.pak", true, "");
    EXPECT_EQ(testutil::readFile(path("data/a.pak")), c.entryContent);
    EXPECT_EQ(testutil::exists(path("TervalisOnline2D.exe.new")), c.launcherContent != nullptr);
    if (c.launcherContent) {
      EXPECT_EQ(testutil::readFile(path("TervalisOnline2D.exe.new")), c.launcherContent);
      EXPECT_EQ(updater_->progress.snapshot().currentFile, "TervalisOnline2D.exe.new");
    }
    EXPECT_FALSE(testutil::exists(tempPath()));
  }
}

TEST_F(DownloadTest, WhatIsNotAnArchiveInstallsNothing) {
  testutil::writeFile(path("a.pak"), "old");
  for (const char* body : {"", "<html>not found</html>", "PK\x03\x04 broken"}) {
    testutil::writeFile(tempPath(), body);
    installFetchedFile(session(), "a.pak", true, "");
    EXPECT_EQ(testutil::readFile(path("a.pak")), "old");
    EXPECT_FALSE(testutil::exists(tempPath()));
  }
}

TEST(Download, ListNames) {
  for (const char* name : {"files.txt", "FILES.TXT", "Files-Large.txt", "clan_icons_list.txt", "Clan_Icons_List.TXT"})
    EXPECT_TRUE(isListFile(name)) << name;
  for (const char* name : {"files.txt ", "data/files.txt", "files.tx", ""}) EXPECT_FALSE(isListFile(name)) << name;
}

TEST(Download, ContentLengthText) {
  struct Case {
    const char* text;
    int64_t value;
  } cases[] = {
      {"123", 123},         {"  42", 42},        {"+7", 7},       {"-5", -5},
      {"12ab", 12},         {"abc", 0},          {"", 0},         {"2147483647", 2147483647},
      {"2147483648", 2147483648}, {"4294967296", 4294967296}, {"6442450944", 6442450944},
      {"9223372036854775807", INT64_MAX}, {"9223372036854775808", INT64_MAX},
      {"99999999999999999999", INT64_MAX}, {"-9223372036854775808", INT64_MIN}, {"-99999999999999999999", INT64_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(parseContentLength(c.text), c.value) << c.text;
}

}  // namespace

}  // namespace tvl
