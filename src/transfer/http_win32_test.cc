// The WinINet transport against a stand-in library that records every call.
// Wine's WinINet connects directly whatever proxy it is given, so these
// arguments are the proof of the SOCKS road on Windows.
#include "transfer/http_win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "download_test_util.h"
#include "transfer/download.h"
#include "transfer/secure_connection.h"

namespace tvl {


namespace {

// Handles are small fake values; 0 is failure.
HINTERNET handle(uintptr_t v) { return reinterpret_cast<HINTERNET>(v); }
constexpr uintptr_t kInternet = 1, kConnection = 2, kRequest = 3;

struct Call {
  std::string what;
  std::vector<std::string> args;
};

// What the stand-in does and what it saw.
struct Fake {
  std::vector<Call> calls;
  std::vector<uintptr_t> closed;
  std::vector<std::pair<uintptr_t, DWORD>> options;  // (handle, option) of each timeout set
  DWORD optionValueReceive = 0, optionValueConnect = 0, optionValueConns = 0;
  const char* failAt = "";  // name of the call that fails
  DWORD lastError = 0;
  int status = 200;
  const char* contentLength = "7";  // nullptr: no such header
  std::vector<std::string> reads;    // successive reads; "" reports the end
  size_t nextRead = 0;
  bool readFailsAtEnd = false;  // a timeout after the last chunk instead of the end
  std::vector<DWORD> asked;     // the size of every read
  std::vector<ULONGLONG> readMs;  // how long each read takes (0 when not given)
  ULONGLONG now = 0;
  std::map<DWORD, std::string> fields;  // more response headers by query level
  std::vector<std::string> redirects;   // the first sends answer 302 to these Locations
  DWORD sendError = 0;                  // the send fails with this code
  std::map<DWORD, DWORD> optionValues;  // the DWORD value of each option set
} fake;

int sends() {
  int n = 0;
  for (const Call& c : fake.calls) n += c.what == "HttpSendRequestA";
  return n;
}

// A send that hangs until released, like an unanswered connect under Wine.
std::atomic<bool> sendHangs{false}, sendReleased{false}, sendReturned{false};

std::string str(const char* s) { return s ? std::string("\"") + s + "\"" : "null"; }
std::string num(uintptr_t v) { return std::to_string(v); }

HINTERNET WINAPI fakeOpen(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags) {
  fake.calls.push_back({"InternetOpenA", {str(agent), num(access), str(proxy), str(bypass), num(flags)}});
  if (std::string(fake.failAt) == "open") return nullptr;
  return handle(kInternet);
}
BOOL WINAPI fakeSetOption(HINTERNET h, DWORD option, LPVOID buffer, DWORD) {
  fake.options.push_back({reinterpret_cast<uintptr_t>(h), option});
  fake.optionValues[option] = *static_cast<DWORD*>(buffer);
  if (option == INTERNET_OPTION_RECEIVE_TIMEOUT) fake.optionValueReceive = *static_cast<DWORD*>(buffer);
  if (option == INTERNET_OPTION_CONNECT_TIMEOUT) fake.optionValueConnect = *static_cast<DWORD*>(buffer);
  if (option == INTERNET_OPTION_MAX_CONNS_PER_SERVER && !h) fake.optionValueConns = *static_cast<DWORD*>(buffer);
  return TRUE;
}
HINTERNET WINAPI fakeConnect(HINTERNET h, LPCSTR server, INTERNET_PORT port, LPCSTR user, LPCSTR password,
                             DWORD service, DWORD flags, DWORD_PTR context) {
  fake.calls.push_back({"InternetConnectA", {num(reinterpret_cast<uintptr_t>(h)), str(server), num(port), str(user),
                                             str(password), num(service), num(flags), num(context)}});
  if (std::string(fake.failAt) == "connect") return nullptr;
  return handle(kConnection);
}
HINTERNET WINAPI fakeOpenRequest(HINTERNET h, LPCSTR verb, LPCSTR object, LPCSTR version, LPCSTR referrer,
                                 LPCSTR* accept, DWORD flags, DWORD_PTR context) {
  fake.calls.push_back({"HttpOpenRequestA",
                        {num(reinterpret_cast<uintptr_t>(h)), str(verb), str(object), str(version), str(referrer),
                         accept ? "types" : "null", num(flags), num(context)}});
  return handle(kRequest);
}
BOOL WINAPI fakeSend(HINTERNET h, LPCSTR headers, DWORD length, LPVOID optional, DWORD optionalLength) {
  fake.calls.push_back({"HttpSendRequestA", {num(reinterpret_cast<uintptr_t>(h)), str(headers), num(length),
                                             optional ? "data" : "null", num(optionalLength)}});
  if (sendHangs) {
    while (!sendReleased) Sleep(1);
    return FALSE;
  }
  if (fake.sendError) {
    fake.lastError = fake.sendError;
    return FALSE;
  }
  return std::string(fake.failAt) != "send";
}
BOOL WINAPI fakeQuery(HINTERNET, DWORD level, LPVOID buffer, LPDWORD length, LPDWORD) {
  if (level == HTTP_QUERY_RAW_HEADERS_CRLF) {
    if (std::string(fake.failAt) == "headers") {
      fake.lastError = ERROR_INSUFFICIENT_BUFFER;
      return FALSE;
    }
    return TRUE;
  }
  bool redirect = static_cast<size_t>(sends()) <= fake.redirects.size();
  if (level == (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER)) {
    *static_cast<DWORD*>(buffer) = static_cast<DWORD>(redirect ? 302 : fake.status);
    return TRUE;
  }
  if (level == HTTP_QUERY_LOCATION && redirect) {
    const std::string& v = fake.redirects[sends() - 1];
    memcpy(buffer, v.c_str(), v.size() + 1);
    *length = static_cast<DWORD>(v.size());
    return TRUE;
  }
  if (level == HTTP_QUERY_CONTENT_LENGTH) {
    if (!fake.contentLength) {
      fake.lastError = ERROR_HTTP_HEADER_NOT_FOUND;
      return FALSE;
    }
    std::string v = fake.contentLength;
    memcpy(buffer, v.c_str(), v.size() + 1);
    *length = static_cast<DWORD>(v.size());
    return TRUE;
  }
  auto field = fake.fields.find(level);
  if (field != fake.fields.end()) {
    memcpy(buffer, field->second.c_str(), field->second.size() + 1);
    *length = static_cast<DWORD>(field->second.size());
    return TRUE;
  }
  fake.lastError = ERROR_HTTP_HEADER_NOT_FOUND;
  return FALSE;
}
BOOL WINAPI fakeAvailable(HINTERNET, LPDWORD available, DWORD, DWORD_PTR) {
  if (fake.nextRead >= fake.reads.size() && fake.readFailsAtEnd) {
    fake.lastError = ERROR_INTERNET_TIMEOUT;
    return FALSE;
  }
  // Like WinINet after a close in the middle of the body: 0, no error.
  *available = fake.nextRead < fake.reads.size() ? static_cast<DWORD>(fake.reads[fake.nextRead].size()) : 0;
  return TRUE;
}
BOOL WINAPI fakeRead(HINTERNET, LPVOID buffer, DWORD toRead, LPDWORD read) {
  if (fake.asked.size() < fake.readMs.size()) fake.now += fake.readMs[fake.asked.size()];
  fake.asked.push_back(toRead);
  *read = 0;
  if (fake.nextRead >= fake.reads.size()) {
    if (fake.readFailsAtEnd) {
      fake.lastError = ERROR_INTERNET_TIMEOUT;
      return FALSE;
    }
    return TRUE;  // the end, also after a close in the middle: success, 0 bytes
  }
  const std::string& chunk = fake.reads[fake.nextRead++];
  DWORD n = chunk.size() < toRead ? static_cast<DWORD>(chunk.size()) : toRead;
  memcpy(buffer, chunk.data(), n);
  *read = n;
  return TRUE;
}
BOOL WINAPI fakeClose(HINTERNET h) {
  fake.closed.push_back(reinterpret_cast<uintptr_t>(h));
  return TRUE;
}
DWORD WINAPI fakeLastError() {
  if (sendHangs) {
    sendReturned = true;  // the abandoned send's last touch of the fake
    return ERROR_INTERNET_CANNOT_CONNECT;
  }
  if (std::string(fake.failAt) == "connect" || std::string(fake.failAt) == "open") return ERROR_INTERNET_CANNOT_CONNECT;
  if (std::string(fake.failAt) == "send") return ERROR_INTERNET_NAME_NOT_RESOLVED;
  return fake.lastError;
}

ULONGLONG WINAPI fakeTicks() { return fake.now; }

const WinInetApi kFakeApi = {fakeOpen,  fakeSetOption, fakeConnect, fakeOpenRequest, fakeSend,     fakeQuery,
                             fakeAvailable, fakeRead,  fakeClose,   fakeLastError,   fakeTicks};

class WinInetTest : public StagingTest {
 protected:
  void SetUp() override {
    StagingTest::SetUp();
    fake = Fake();
    testutil::settings().game = GameSettings();
  }
  void TearDown() override {
    testutil::settings().game = GameSettings();
    StagingTest::TearDown();
  }
  FetchResult fetch(const std::string& prefix, const std::string& name, const std::string& server = "upd.example") {
    WinInetClient client(kFakeApi);
    DownloadSession session = updater_->session(client);
    return fetchToTempFile(session, buildDownloadRequest(updater_->gameSettings, ServerLocation{server, prefix}, name));
  }
  const Call& call(const std::string& what) {
    for (const Call& c : fake.calls)
      if (c.what == what) return c;
    static Call none;
    ADD_FAILURE() << what << " was not called";
    return none;
  }
};

TEST_F(WinInetTest, ExactRequestThroughTheSocksProxy) {
  testutil::settings().game.socksServer = "px.example";
  testutil::settings().game.socksPort = "1080";
  fake.reads = {"abc", "defg"};
  EXPECT_TRUE(fetch("/3d/", "data/a b.pak").ok());
  EXPECT_EQ(call("InternetOpenA").args,
            (std::vector<std::string>{"\"TervalisOnline2D\"", "3", "\"socks=px.example:1080\"", "null", "0"}));
  EXPECT_EQ(call("InternetConnectA").args,
            (std::vector<std::string>{"1", "\"upd.example\"", "80", "null", "null", "3", "0", "0"}));
  EXPECT_EQ(call("HttpOpenRequestA").args,
            (std::vector<std::string>{"2", "null", "\"/3d/data/a b.pak\"", "null", "null", "null", std::to_string(INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT), "0"}));
  EXPECT_EQ(call("HttpSendRequestA").args, (std::vector<std::string>{"3", "null", "0", "null", "0"}));
  EXPECT_EQ(testutil::readFile(tempPath()), "abcdefg");
  // Closed newest first.
  EXPECT_EQ(fake.closed, (std::vector<uintptr_t>{kRequest, kConnection, kInternet}));
}

TEST_F(WinInetTest, ProxyStringAndAccessType) {
  struct Case {
    const char* server;
    const char* port;
    const char* access;
    const char* proxy;
  } cases[] = {
      {"", "", "1", "null"},
      {"", "1080", "1", "null"},  // a port alone never makes a proxy
      {"10.0.0.1", "", "3", "\"socks=10.0.0.1:\""},
      {"px", "9050", "3", "\"socks=px:9050\""},
  };
  for (const Case& c : cases) {
    fake = Fake();
    testutil::settings().game.socksServer = c.server;
    testutil::settings().game.socksPort = c.port;
    fake.reads = {"1234567"};
    fetch("/", "f");
    EXPECT_EQ(call("InternetOpenA").args[1], c.access) << c.server << ":" << c.port;
    EXPECT_EQ(call("InternetOpenA").args[2], c.proxy) << c.server << ":" << c.port;
  }
}

TEST_F(WinInetTest, EveryHandleGetsTheTimeouts) {
  fake.reads = {"1234567"};
  fetch("/", "f");
  for (uintptr_t h : {kInternet, kConnection, kRequest}) {
    int set = 0;
    for (auto& o : fake.options)
      if (o.first == h && (o.second == INTERNET_OPTION_CONNECT_TIMEOUT || o.second == INTERNET_OPTION_RECEIVE_TIMEOUT))
        ++set;
    EXPECT_EQ(set, 2) << "handle " << h;
  }
  EXPECT_EQ(fake.optionValueConnect, 15000u);
  EXPECT_EQ(fake.optionValueReceive, 20000u);
  // Concurrent transfers are not held back by a per-server cap.
  EXPECT_GE(fake.optionValueConns, 8u);
}

TEST_F(WinInetTest, FailuresAndTheirCodes) {
  struct Case {
    const char* what;
    const char* failAt;
    int status;
    const char* contentLength;
    std::vector<std::string> reads;
    bool readFailsAtEnd;
    bool complete;
    uint32_t code;
    std::vector<uintptr_t> closed;
  } cases[] = {
      {"open fails", "open", 200, "7", {}, false, false, 12029, {}},
      {"connect fails", "connect", 200, "7", {}, false, false, 12029, {kInternet}},
      {"send fails", "send", 200, "7", {}, false, false, 12007, {kRequest, kConnection, kInternet}},
      {"headers too long", "headers", 200, "7", {}, false, false, 122, {kRequest, kConnection, kInternet}},
      {"no Content-Length", "", 200, nullptr, {"1234567"}, false, false, 12150, {kRequest, kConnection, kInternet}},
      {"404 page", "", 404, "7", {"<html>"}, false, false, 404, {kRequest, kConnection, kInternet}},
      // Under Wine a close in the middle of the body reads as success with 0
      // bytes; the loop must end and the body count as short.
      {"closed mid-body", "", 200, "7", {"123"}, false, false, 12030, {kRequest, kConnection, kInternet}},
      {"receive times out", "", 200, "7", {"123"}, true, false, 12002, {kRequest, kConnection, kInternet}},
      {"complete", "", 200, " 7", {"123", "4567"}, false, true, 0, {kRequest, kConnection, kInternet}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake = Fake();
    fake.failAt = c.failAt;
    fake.status = c.status;
    fake.contentLength = c.contentLength;
    fake.reads = c.reads;
    fake.readFailsAtEnd = c.readFailsAtEnd;
    FetchResult r = fetch("/3d/", "a.pak");
    EXPECT_EQ(r.ok(), c.complete);
    EXPECT_EQ(r.status.code(), c.code);
    EXPECT_EQ(fake.closed, c.closed);
    EXPECT_EQ(testutil::exists(tempPath()), c.complete);
  }
}

// Little at a time while the data trickles (nothing waits for more than has
// arrived), much at a time while it flows; the sink never gets more than
// kHttpChunk at once.
TEST_F(WinInetTest, ReadsFollowWhatHasArrived) {
  std::string flowing(kHttpChunk, 'x');
  fake.reads = {"abc", flowing, std::string(20000, 'y'), "de"};
  std::string length = std::to_string(3 + flowing.size() + 20000 + 2);
  fake.contentLength = length.c_str();
  EXPECT_TRUE(fetch("/", "f").ok());
  EXPECT_EQ(fake.asked, (std::vector<DWORD>{3, 65536, 65536, 2}));
  EXPECT_EQ(testutil::readFile(tempPath()), "abc" + flowing + std::string(20000, 'y') + "de");

  // Reads that come back full at once double, up to 1 MiB; a slow one
  // starts over, and a slow line stays on short reads.
  struct Case {
    std::vector<ULONGLONG> ms;
    std::vector<DWORD> asked;
  } cases[] = {
      {{}, {65536, 131072, 262144, 524288, 1 << 20, 1 << 20, 1 << 20}},
      {{0, 0, 150, 0, 0, 0, 0}, {65536, 131072, 262144, 65536, 131072, 262144, 524288}},
      {{125, 125, 125, 125, 125, 125, 125}, std::vector<DWORD>(7, 65536)},
      {{30, 30, 30, 30, 30, 30, 30}, std::vector<DWORD>(7, 65536)},
  };
  for (const Case& c : cases) {
    fake = Fake();
    fake.readMs = c.ms;
    uint64_t total = 0;
    for (DWORD n : c.asked) {
      total += n;
      fake.reads.push_back(std::string(n, 'z'));
    }
    length = std::to_string(total);
    fake.contentLength = length.c_str();
    EXPECT_TRUE(fetch("/", "f").ok());
    EXPECT_EQ(fake.asked, c.asked);
  }
}

// A library that hands over more than Content-Length: the surplus shows the
// overrun (the "BUG in Progress bar" box) and the file is not taken.
TEST_F(WinInetTest, MoreBytesThanAnnounced) {
  fake.contentLength = "5";
  fake.reads = {"1234567"};
  FetchResult r = fetch("/", "f");
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.status.code(), 12152u);
  EXPECT_EQ(r.overrun, -2);
  EXPECT_FALSE(testutil::exists(tempPath()));
}

// Records the head and counts the body.
struct HeadSink : HttpSink {
  HttpResponseHead head;
  std::string body;
  bool onHead(const HttpResponseHead& h) override {
    head = h;
    return true;
  }
  bool onData(const char* data, size_t size) override {
    body.append(data, size);
    return true;
  }
};

HttpRequest plainRequest() {
  HttpRequest r;
  r.host = "upd.example";
  r.objectPath = "/3d/big.pak";
  r.agent = "TervalisOnline2D";
  return r;
}

TEST_F(WinInetTest, ResumeHeadersOutAndValidatorsIn) {
  fake.status = 206;
  fake.contentLength = "4";
  fake.fields = {{HTTP_QUERY_ETAG, "\"5f-3a\""},
                 {HTTP_QUERY_LAST_MODIFIED, "Tue, 04 Mar 2025 10:00:00 GMT"},
                 {HTTP_QUERY_CONTENT_RANGE, "bytes 3000000000-3000000003/3000000004"}};
  fake.reads = {"wxyz"};
  HttpRequest r = plainRequest();
  r.rangeFrom = 3000000000;
  r.ifRange = "\"5f-3a\"";
  HeadSink sink;
  WinInetClient client(kFakeApi);
  EXPECT_EQ(client.get(r, sink).outcome, HttpOutcome::kEnded);
  const std::string headers = "Range: bytes=3000000000-\r\nIf-Range: \"5f-3a\"\r\n";
  EXPECT_EQ(call("HttpSendRequestA").args,
            (std::vector<std::string>{"3", "\"" + headers + "\"", std::to_string(headers.size()), "null", "0"}));
  EXPECT_EQ(call("HttpOpenRequestA").args[6],
            std::to_string(INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT));
  EXPECT_EQ(sink.head.status, 206);
  EXPECT_EQ(sink.head.contentLength, 4);
  EXPECT_EQ(sink.head.etag, "\"5f-3a\"");
  EXPECT_EQ(sink.head.lastModified, "Tue, 04 Mar 2025 10:00:00 GMT");
  EXPECT_TRUE(sink.head.hasContentRange);
  EXPECT_EQ(sink.head.rangeFirst, 3000000000);
  EXPECT_EQ(sink.head.rangeTotal, 3000000004);
  EXPECT_EQ(sink.body, "wxyz");

  // Without the headers: nothing to resume with, the body still comes.
  fake = Fake();
  fake.reads = {"1234567"};
  HeadSink plain;
  EXPECT_EQ(client.get(plainRequest(), plain).outcome, HttpOutcome::kEnded);
  EXPECT_EQ(plain.head.etag, "");
  EXPECT_FALSE(plain.head.hasContentRange);
  EXPECT_EQ(plain.body, "1234567");
}

// A request that reuses connections leaves its Internet and connection
// handles open for the next one to the same server; one that broke off, or
// one to another server, does not share them.
TEST_F(WinInetTest, ReusedHandlesOnlyAfterACleanEnd) {
  WinInetClient client(kFakeApi);
  auto get = [&](const char* host, bool reuse, bool breaks) {
    fake.reads = {"1234567"};
    fake.nextRead = 0;
    fake.readFailsAtEnd = breaks;
    HttpRequest r = plainRequest();
    r.host = host;
    r.reuseConnection = reuse;
    HeadSink sink;
    return client.get(r, sink).outcome;
  };
  auto opens = [] {
    int n = 0;
    for (const Call& c : fake.calls) n += c.what == "InternetOpenA";
    return n;
  };
  EXPECT_EQ(get("a", true, false), HttpOutcome::kEnded);
  EXPECT_EQ(fake.closed, (std::vector<uintptr_t>{kRequest}));
  EXPECT_EQ(get("a", true, false), HttpOutcome::kEnded);
  EXPECT_EQ(opens(), 1);
  EXPECT_EQ(get("b", true, false), HttpOutcome::kEnded);  // another server: its own pair
  EXPECT_EQ(opens(), 2);
  EXPECT_EQ(get("a", true, true), HttpOutcome::kBroken);  // takes a's pair and closes it
  EXPECT_EQ(opens(), 2);
  EXPECT_EQ(get("a", true, false), HttpOutcome::kEnded);
  EXPECT_EQ(opens(), 3);
  fake.closed.clear();
  EXPECT_EQ(get("a", false, false), HttpOutcome::kEnded);  // not reusing: opens and closes its own
  EXPECT_EQ(opens(), 4);
  EXPECT_EQ(fake.closed, (std::vector<uintptr_t>{kRequest, kConnection, kInternet}));
}

// The update's sinks say "enough" with the last byte of the body: that is a
// clean end too, and keeps the handles; stopping before the end does not.
TEST_F(WinInetTest, SinkStoppingAtTheAnnouncedEndKeepsTheConnection) {
  WinInetClient client(kFakeApi);
  struct Stopper : HttpSink {
    size_t after = 0;
    std::string body;
    bool onHead(const HttpResponseHead&) override { return true; }
    bool onData(const char* data, size_t size) override {
      body.append(data, size);
      return body.size() < after;
    }
  };
  auto opensAfter = [&](std::vector<std::string> reads, size_t stopAfter) {
    fake.reads = reads;
    fake.nextRead = 0;
    HttpRequest r = plainRequest();
    r.reuseConnection = true;
    Stopper sink;
    sink.after = stopAfter;
    EXPECT_EQ(client.get(r, sink).outcome, HttpOutcome::kEnded);
    int n = 0;
    for (const Call& c : fake.calls) n += c.what == "InternetOpenA";
    return n;
  };
  EXPECT_EQ(opensAfter({"1234567"}, 7), 1);
  EXPECT_EQ(opensAfter({"1234567"}, 7), 1);       // the kept pair
  EXPECT_EQ(opensAfter({"123", "4567"}, 3), 1);   // takes it, stops early: closes it
  EXPECT_EQ(opensAfter({"1234567"}, 7), 2);
}

// A connect that never ends holds nobody: the request gives up at the
// deadline with a time-out, closes its handles and keeps none for reuse.
TEST_F(WinInetTest, HangingSendIsGivenUpAtTheDeadline) {
  sendHangs = true;
  sendReleased = sendReturned = false;
  {
    WinInetClient client(kFakeApi, 50);
    HttpRequest r = plainRequest();
    r.reuseConnection = true;
    HeadSink sink;
    HttpResult result = client.get(r, sink);
    EXPECT_EQ(result.outcome, HttpOutcome::kNotStarted);
    EXPECT_EQ(result.code, 12002u);
    EXPECT_EQ(fake.closed, (std::vector<uintptr_t>{kRequest, kConnection, kInternet}));
  }
  sendReleased = true;  // the abandoned send returns later, after its client is gone
  while (!sendReturned) Sleep(1);
  sendHangs = false;
}

// HTTPS: the secure flag and the server's port, HTTP/2 asked for, and the
// redirects followed by the transport itself, never to plain HTTP once a
// hop was secure.
TEST_F(WinInetTest, SecureRequestsAndTheirRedirects) {
  const std::string plain = "http://upd.example", secure = "https://upd.example:8443";
  struct Case {
    const char* what;
    std::string server;
    std::vector<std::string> redirects;
    uint32_t code;
    std::vector<std::string> connects;  // host:port of each connection
    std::string lastObject;
  } cases[] = {
      {"no redirect", secure, {}, 0, {"upd.example:8443"}, "/3d/f"},
      {"same server", secure, {"/new/f"}, 0, {"upd.example:8443", "upd.example:8443"}, "/new/f"},
      {"relative", secure, {"g"}, 0, {"upd.example:8443", "upd.example:8443"}, "/3d/g"},
      {"other server", secure, {"https://cdn.example/x/f", "https://cdn2.example:444/y"}, 0,
       {"upd.example:8443", "cdn.example:443", "cdn2.example:444"}, "/y"},
      {"to plain HTTP", secure, {"http://upd.example/3d/f"}, 12040, {"upd.example:8443"}, "/3d/f"},
      {"plain to HTTPS", plain, {"https://cdn.example/x/f"}, 0, {"upd.example:80", "cdn.example:443"}, "/x/f"},
      {"plain to HTTPS and back", plain, {"https://cdn.example/x/f", "http://cdn.example/x/f"}, 12040,
       {"upd.example:80", "cdn.example:443"}, "/x/f"},
      {"to another scheme", secure, {"ftp://upd.example/3d/f"}, 12152, {"upd.example:8443"}, "/3d/f"},
      {"too many", secure, std::vector<std::string>(11, "/again"), 12152,
       std::vector<std::string>(11, "upd.example:8443"), "/again"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake = Fake();
    fake.redirects = c.redirects;
    fake.reads = {"1234567"};
    FetchResult r = fetch("/3d/", "f", c.server);
    EXPECT_EQ(r.status.code(), c.code);
    std::vector<std::string> connects;
    std::string lastObject;
    for (const Call& call : fake.calls) {
      if (call.what == "InternetConnectA") connects.push_back(call.args[1].substr(1, call.args[1].size() - 2) + ":" + call.args[2]);
      if (call.what == "HttpOpenRequestA") {
        lastObject = call.args[2].substr(1, call.args[2].size() - 2);
        bool hopSecure = connects.back().compare(connects.back().size() - 3, 3, ":80") != 0;
        EXPECT_EQ(call.args[6], std::to_string(INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                               INTERNET_FLAG_NO_AUTO_REDIRECT | (hopSecure ? INTERNET_FLAG_SECURE : 0)));
      }
    }
    EXPECT_EQ(connects, c.connects);
    EXPECT_EQ(lastObject, c.lastObject);
    EXPECT_EQ(fake.optionValues[INTERNET_OPTION_ENABLE_HTTP_PROTOCOL],
              c.server == secure || c.connects.size() > 1 ? static_cast<DWORD>(HTTP_PROTOCOL_FLAG_HTTP2) : 0u);
  }
  // A plain request asks for nothing new.
  fake = Fake();
  fake.reads = {"1234567"};
  EXPECT_TRUE(fetch("/3d/", "f", "http://upd.example:81").ok());
  EXPECT_EQ(call("InternetConnectA").args[2], "81");
  EXPECT_EQ(call("HttpOpenRequestA").args[6],
            std::to_string(INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT));
  EXPECT_EQ(fake.optionValues.count(INTERNET_OPTION_ENABLE_HTTP_PROTOCOL), 0u);

  // So does one that keeps its handles (Wine would send the next request on
  // a redirected handle in plain text to the HTTPS port), from plain HTTP to
  // HTTPS and to plain HTTP alike.
  for (const char* to : {"https://upd.example/3d/f", "http://other.example/3d/f"}) {
    SCOPED_TRACE(to);
    fake = Fake();
    fake.redirects = {to};
    fake.reads = {"1234567"};
    HttpRequest r = plainRequest();
    r.reuseConnection = true;
    HeadSink sink;
    WinInetClient client(kFakeApi);
    EXPECT_EQ(client.get(r, sink).outcome, HttpOutcome::kEnded);
    std::vector<std::string> flags;
    for (const Call& c : fake.calls)
      if (c.what == "HttpOpenRequestA") flags.push_back(c.args[6]);
    bool secure = std::string(to).compare(0, 6, "https:") == 0;
    EXPECT_EQ(flags, (std::vector<std::string>{
                         std::to_string(INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT),
                         std::to_string(INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                        (secure ? INTERNET_FLAG_SECURE : 0))}));
    EXPECT_EQ(sink.body, "1234567");
  }
}

// An object named by its digest may come from a cache: no reload flag
// (which sends the no-cache headers); never written to WinINet's cache.
TEST_F(WinInetTest, ImmutableObjectsMayComeFromACache) {
  for (bool immutable : {false, true}) {
    fake = Fake();
    fake.reads = {"abc"};
    HttpRequest r = plainRequest();
    r.immutable = immutable;
    HeadSink sink;
    WinInetClient client(kFakeApi);
    EXPECT_EQ(client.get(r, sink).outcome, HttpOutcome::kEnded);
    EXPECT_EQ(call("HttpOpenRequestA").args[6],
              std::to_string((immutable ? 0 : INTERNET_FLAG_RELOAD) | INTERNET_FLAG_NO_CACHE_WRITE |
                             INTERNET_FLAG_NO_AUTO_REDIRECT));
  }
}

// A certificate the system refused fails at once with its own code, and
// names the host it came from.
TEST_F(WinInetTest, RefusedCertificateNamesItsHost) {
  fake.sendError = ERROR_INTERNET_SEC_CERT_CN_INVALID;
  FetchResult r = fetch("/3d/", "f", "https://upd.example");
  EXPECT_EQ(r.status.code(), 12038u);
  EXPECT_EQ(sends(), 1);
  EXPECT_EQ(lastSecureRefusal().host, "upd.example");
  EXPECT_EQ(lastSecureRefusal().code, 12038u);
  // A setting that names no server is refused before anything is opened.
  fake = Fake();
  EXPECT_EQ(fetch("/3d/", "f", "gopher://upd.example").status.code(), 12005u);
  EXPECT_TRUE(fake.calls.empty());
}

}  // namespace

}  // namespace tvl
