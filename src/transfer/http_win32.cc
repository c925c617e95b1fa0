#include "transfer/http_win32.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <string>
#include <vector>

#include "base/server_address.h"
#include "transfer/http_head.h"
#include "transfer/secure_connection.h"

namespace tvl {


namespace {

// Closes a WinINet handle through the same table that opened it.
class InetHandle {
 public:
  InetHandle(const WinInetApi& api, HINTERNET h) : api_(api), h_(h) {}
  ~InetHandle() {
    if (h_) api_.internetCloseHandle(h_);
  }
  InetHandle(const InetHandle&) = delete;
  InetHandle& operator=(const InetHandle&) = delete;
  HINTERNET get() const { return h_; }
  HINTERNET release() {
    HINTERNET h = h_;
    h_ = nullptr;
    return h;
  }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  const WinInetApi& api_;
  HINTERNET h_;
};

// Bytes asked of a read while the data flows (a slow line never gets there:
// its reads ask for what has arrived). Wine's WinINet refills its 8 KiB
// buffer and crosses to its server on every call; 64 KiB reads took half
// again the time of 1 MiB reads on loopback.
constexpr DWORD kWinInetReadSize = 1024 * 1024;
constexpr DWORD kWinInetFirstRead = 64 * 1024;
// A read that filled this fast doubles the next one; one this slow starts
// over from kWinInetFirstRead.
constexpr ULONGLONG kFastReadMs = 20;
constexpr ULONGLONG kSlowReadMs = 100;

DWORD WINAPI systemGetLastError() { return GetLastError(); }

// A stalled server must not hold the launcher for ever. Set on every handle:
// not every WinINet hands the options down from the Internet handle.
void setTimeouts(const WinInetApi& api, HINTERNET h) {
  DWORD connectMs = kHttpConnectTimeoutMs, receiveMs = kHttpReceiveTimeoutMs;
  api.internetSetOptionA(h, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof connectMs);
  api.internetSetOptionA(h, INTERNET_OPTION_SEND_TIMEOUT, &receiveMs, sizeof receiveMs);
  api.internetSetOptionA(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveMs, sizeof receiveMs);
}

// WinINet holds back requests beyond a per-server connection count, by
// default 2 on some Windows versions: raised once, process-wide, so that
// concurrent transfers are not serialised behind it. Wine has no such cap.
constexpr DWORD kMaxConnsPerServer = 16;

}  // namespace

const WinInetApi& systemWinInet() {
  static const WinInetApi api = {
      InternetOpenA,  InternetSetOptionA,         InternetConnectA, HttpOpenRequestA,    HttpSendRequestA,
      HttpQueryInfoA, InternetQueryDataAvailable, InternetReadFile, InternetCloseHandle, systemGetLastError,
      GetTickCount64,
  };
  return api;
}

namespace {

// A header's value into buffer (NUL-terminated); false when the response has
// no such header or the library cannot say.
bool queryText(const WinInetApi& api, HINTERNET request, DWORD level, char* buffer, DWORD size) {
  DWORD length = size - 1;
  if (!api.httpQueryInfoA(request, level, buffer, &length, nullptr)) return false;
  buffer[length < size ? length : size - 1] = '\0';
  return true;
}

}  // namespace

namespace {

struct PendingSend {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  BOOL ok = FALSE;
  DWORD error = 0;
};

struct SendJob {
  std::shared_ptr<PendingSend> pending;
  const WinInetApi* api;
  HINTERNET request;
  std::string headers;
};

DWORD WINAPI sendThread(LPVOID parameter) {
  std::unique_ptr<SendJob> job(static_cast<SendJob*>(parameter));
  const std::string& h = job->headers;
  BOOL ok = job->api->httpSendRequestA(job->request, h.empty() ? nullptr : h.c_str(), static_cast<DWORD>(h.size()),
                                       nullptr, 0);
  DWORD error = ok ? 0 : job->api->getLastError();
  std::lock_guard<std::mutex> lock(job->pending->mutex);
  job->pending->ok = ok;
  job->pending->error = error;
  job->pending->done = true;
  job->pending->changed.notify_all();
  return 0;
}

}  // namespace

// The send on a helper thread, so that the caller can stop waiting: Wine's
// WinINet ignores the connect time-out (an unanswered connect lasts until
// the kernel gives up, over two minutes on Linux), and closing the handles
// does not end a connect in progress there. The state is shared: an
// abandoned helper finishes on its own and touches nothing else. A plain
// Win32 thread: a std::thread detached at once can start without its state
// under mingw's winpthreads.
bool WinInetClient::sendWithDeadline(HINTERNET request, const std::string& headers, DWORD* error) {
  auto pending = std::make_shared<PendingSend>();
  std::unique_ptr<SendJob> job(new SendJob{pending, &api_, request, headers});
  HANDLE thread = CreateThread(nullptr, 64 * 1024, sendThread, job.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (!thread) {
    *error = GetLastError();
    return false;
  }
  job.release();
  CloseHandle(thread);
  std::unique_lock<std::mutex> lock(pending->mutex);
  if (!pending->changed.wait_for(lock, std::chrono::milliseconds(sendDeadlineMs_), [&] { return pending->done; })) {
    *error = kHttpErrorTimeout;
    return false;
  }
  *error = pending->error;
  return pending->ok != FALSE;
}

WinInetClient::~WinInetClient() {
  for (Session& s : idle_) {
    api_.internetCloseHandle(s.connection);
    api_.internetCloseHandle(s.internet);
  }
}

bool WinInetClient::takeSession(const std::string& key, Session* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < idle_.size(); ++i) {
    if (idle_[i].key == key) {
      *out = idle_[i];
      idle_.erase(idle_.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

void WinInetClient::giveSession(const Session& session) {
  std::lock_guard<std::mutex> lock(mutex_);
  idle_.push_back(session);
}

namespace {

// Every request follows its redirects itself, so that it can refuse one to
// plain HTTP once a hop was secure (Wine's WinINet follows it silently,
// also in a chain from HTTP through HTTPS back to HTTP), and so that kept
// handles stay on their server (Wine's WinINet points a connection handle
// at the redirect's target, and the next request on it speaks plain HTTP
// to the HTTPS port). As many as libcurl follows.
constexpr int kMaxRedirects = 10;

bool isRedirect(int status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

// The request a secure request's redirect leads to; false with *code set
// when it may not be followed.
bool redirected(const HttpRequest& from, const std::string& location, HttpRequest* to, uint32_t* code) {
  *to = from;
  if (!location.empty() && location[0] == '/' && location.compare(0, 2, "//") != 0) {
    to->objectPath = location;
    return true;
  }
  size_t colon = location.find(':');
  if (!location.empty() && location.compare(0, 2, "//") != 0 &&
      (colon == std::string::npos || location.find('/') < colon)) {
    // Relative to the folder of the path that was asked for.
    to->objectPath = from.objectPath.substr(0, from.objectPath.rfind('/') + 1) + location;
    return true;
  }
  size_t pathStart = location.find('/', location.find("://") == std::string::npos ? 0 : location.find("://") + 3);
  ServerAddress target = parseServerAddress(location.substr(0, pathStart));
  if (from.secure && !target.secure && target.valid && location.find("://") != std::string::npos) {
    *code = kHttpErrorHttpsToHttp;
    return false;
  }
  if (!target.valid || location.find("://") == std::string::npos) {
    *code = kHttpErrorInvalidResponse;
    return false;
  }
  to->host = target.host;
  to->port = target.port;
  to->secure = target.secure;
  to->objectPath = pathStart == std::string::npos ? "/" : location.substr(pathStart);
  return true;
}

}  // namespace

HttpResult WinInetClient::get(const HttpRequest& request, HttpSink& sink) {
  std::call_once(connsRaised_, [this] {
    DWORD conns = kMaxConnsPerServer;
    api_.internetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &conns, sizeof conns);
  });
  HttpRequest current = request;
  for (int hop = 0;; ++hop) {
    HttpRequest next;
    HttpResult result = getOnce(current, sink, hop < kMaxRedirects ? &next : nullptr);
    if (!secureConnectionProblem(result.code).empty()) noteSecureRefusal(current.host, result.code);
    if (result.outcome != HttpOutcome::kNotStarted || next.host.empty()) return result;
    current = next;
  }
}

HttpResult WinInetClient::getOnce(const HttpRequest& request, HttpSink& sink, HttpRequest* redirect) {
  HttpResult result;
  if (request.port == 0) {
    result.code = kHttpErrorInvalidUrl;
    return result;
  }
  auto fail = [&](HttpOutcome outcome) {
    result.outcome = outcome;
    result.code = api_.getLastError();
    return result;
  };

  // Without a SOCKS server the connection is direct: the system's own proxy
  // configuration is never used.
  std::string proxy;
  DWORD access = INTERNET_OPEN_TYPE_DIRECT;
  if (!request.socksServer.empty()) {
    proxy = "socks=" + request.socksServer + ":" + request.socksPort;
    access = INTERNET_OPEN_TYPE_PROXY;
  }
  // A request that reuses connections takes an Internet and a connection
  // handle left open by an earlier one for the same server, agent and proxy
  // (WinINet keeps the connection behind them alive); otherwise it opens
  // its own. Each handle is declared after the one it depends on, so they
  // close newest first.
  std::string key = request.agent + '\n' + proxy + '\n' + request.host + '\n' + std::to_string(request.port) +
                    (request.secure ? "s" : "");
  Session kept;
  bool reused = request.reuseConnection && takeSession(key, &kept);
  InetHandle internet(api_, reused ? kept.internet
                                   : api_.internetOpenA(request.agent.c_str(), access,
                                                        proxy.empty() ? nullptr : proxy.c_str(), nullptr, 0));
  if (!internet) return fail(HttpOutcome::kNotStarted);
  if (!reused) setTimeouts(api_, internet.get());
  if (!reused && request.secure) {
    // HTTP/2 where the system offers it; a WinINet without it (older
    // Windows, Wine) refuses the option and speaks HTTP/1.1.
    DWORD protocols = HTTP_PROTOCOL_FLAG_HTTP2;
    api_.internetSetOptionA(internet.get(), INTERNET_OPTION_ENABLE_HTTP_PROTOCOL, &protocols, sizeof protocols);
  }

  InetHandle connection(api_, reused ? kept.connection
                                     : api_.internetConnectA(internet.get(), request.host.c_str(), request.port,
                                                             nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return fail(HttpOutcome::kNotStarted);
  if (!reused) setTimeouts(api_, connection.get());
  // The two handles go back for the next request once this one's body has
  // been read to its end.
  bool keepSession = false;
  struct GiveBack {
    WinInetClient& client;
    const std::string& key;
    InetHandle &internet, &connection;
    bool& keep;
    ~GiveBack() {
      if (keep) client.giveSession({key, internet.release(), connection.release()});
    }
  } giveBack{*this, key, internet, connection, keepSession};

  {
    // The cache is bypassed both ways: without NO_CACHE_WRITE WinINet
    // keeps a copy of every body in the user's cache folder (under Wine that
    // second write cost a third of a large download's time), and a part of
    // a body has no place there anyway.
    DWORD flags = (request.immutable ? 0 : INTERNET_FLAG_RELOAD) | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                  (request.secure ? INTERNET_FLAG_SECURE : 0);
    InetHandle req(api_, api_.httpOpenRequestA(connection.get(), nullptr, request.objectPath.c_str(), nullptr,
                                               nullptr, nullptr, flags, 0));
    if (!req) return fail(HttpOutcome::kNotStarted);
    setTimeouts(api_, req.get());
    std::string extra;
    for (const std::string& line : rangeHeaderLines(request)) extra += line + "\r\n";
    DWORD sendError = 0;
    if (!sendWithDeadline(req.get(), extra, &sendError)) {
      result.outcome = HttpOutcome::kNotStarted;
      result.code = sendError;
      return result;
    }

    // The raw headers must fit the header buffer; then the status and the
    // Content-Length (its absence is the sink's to judge), and what resuming
    // needs (each may be absent).
    char header[8192];
    DWORD length = sizeof header;
    if (!api_.httpQueryInfoA(req.get(), HTTP_QUERY_RAW_HEADERS_CRLF, header, &length, nullptr))
      return fail(HttpOutcome::kNotStarted);
    HttpResponseHead head;
    DWORD status = 0;
    length = sizeof status;
    if (!api_.httpQueryInfoA(req.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr))
      return fail(HttpOutcome::kNotStarted);
    head.status = static_cast<int>(status);
    if (isRedirect(head.status)) {
      uint32_t code = kHttpErrorInvalidResponse;
      if (!queryText(api_, req.get(), HTTP_QUERY_LOCATION, header, sizeof header) || !redirect ||
          !redirected(request, header, redirect, &code)) {
        if (redirect) redirect->host.clear();
        result.code = code;
      }
      return result;  // not started: the redirect's target answers
    }
    if (queryText(api_, req.get(), HTTP_QUERY_CONTENT_LENGTH, header, sizeof header)) {
      takeHeadField(head, "Content-Length", header);
    } else if (api_.getLastError() != ERROR_HTTP_HEADER_NOT_FOUND) {
      return fail(HttpOutcome::kNotStarted);
    }
    if (queryText(api_, req.get(), HTTP_QUERY_ETAG, header, sizeof header)) takeHeadField(head, "ETag", header);
    if (queryText(api_, req.get(), HTTP_QUERY_LAST_MODIFIED, header, sizeof header))
      takeHeadField(head, "Last-Modified", header);
    if (queryText(api_, req.get(), HTTP_QUERY_CONTENT_RANGE, header, sizeof header))
      takeHeadField(head, "Content-Range", header);
    if (!sink.onHead(head)) {
      result.outcome = HttpOutcome::kRefused;
      return result;
    }

    // A synchronous read blocks until its buffer is full or the body has
    // ended, so it asks for no more than has arrived while the data
    // trickles: progress shows at once, and a stall is seen with what came
    // before it. While the data flows (a full internal buffer is waiting) it
    // asks for much at a time; a stall right after such a flow holds back at
    // most that one read. Reads start at 64 KiB and double while they come
    // back full at once: a slow line keeps short reads, and a body cut early
    // loses little of what arrived. A read of 0 bytes is the end of the
    // stream, also when the server closed in the middle of the body (the
    // sink sees the shortfall). The sink gets the body in chunks of at most
    // kHttpChunk.
    std::vector<char> buffer(kWinInetReadSize);
    int64_t received = 0;
    // A paced body is read a chunk at a time: long reads drain the socket
    // in bursts, and its window grows with them.
    DWORD most = request.paced ? static_cast<DWORD>(kHttpChunk) : kWinInetFirstRead;
    for (;;) {
      DWORD available = 0;
      if (!api_.internetQueryDataAvailable(req.get(), &available, 0, 0)) return fail(HttpOutcome::kBroken);
      DWORD want = available == 0 ? static_cast<DWORD>(kHttpChunk) : available < kHttpChunk ? available : most;
      DWORD got = 0;
      ULONGLONG started = api_.tickCount();
      if (!api_.internetReadFile(req.get(), buffer.data(), want, &got)) return fail(HttpOutcome::kBroken);
      if (got == 0) break;
      if (!request.paced) {
        ULONGLONG took = api_.tickCount() - started;
        if (took >= kSlowReadMs)
          most = kWinInetFirstRead;
        else if (got == most && took <= kFastReadMs && most < kWinInetReadSize)
          most *= 2;
      }
      for (DWORD done = 0; done < got;) {
        DWORD piece = got - done < kHttpChunk ? got - done : static_cast<DWORD>(kHttpChunk);
        done += piece;
        if (!sink.onData(buffer.data() + done - piece, piece)) {
          // A sink that has had enough exactly at the announced end leaves
          // the connection clean for the next request.
          keepSession = request.reuseConnection && done == got && head.hasContentLength &&
                        received + got == head.contentLength;
          result.outcome = HttpOutcome::kEnded;
          return result;
        }
      }
      received += got;
    }
    keepSession = request.reuseConnection;
  }
  result.outcome = HttpOutcome::kEnded;
  return result;
}

HttpClient& platformHttpClient() {
  static WinInetClient client(systemWinInet());
  return client;
}

}  // namespace tvl
