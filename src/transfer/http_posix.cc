// The libcurl transport: the same request as the Windows build sends (GET on
// port 80, the object path verbatim, the agent, no-cache) and the same
// proxy rule. The SOCKS proxy is spoken as SOCKS4, the version WinINet's
// "socks=" proxy speaks (the name resolved here, as WinINet does), so one
// proxy serves both builds. Without a SOCKS server no proxy is used at all,
// whatever the environment's *_proxy variables say.
#include <curl/curl.h>
#include <sys/socket.h>

#include <mutex>
#include <string>
#include <vector>

#include "transfer/http.h"
#include "transfer/http_head.h"

namespace tvl {


namespace {

struct Transfer {
  CURL* curl = nullptr;
  HttpSink* sink = nullptr;
  HttpResponseHead head;
  bool headDelivered = false;
  bool refused = false;
  bool stopped = false;
  int64_t received = 0;  // body bytes handed to the sink

  // The head goes to the sink once, with the final response's status (a
  // redirect's own head is passed over, as WinINet follows redirects too).
  bool deliverHead() {
    if (headDelivered) return !refused;
    headDelivered = true;
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    head.status = static_cast<int>(status);
    refused = !sink->onHead(head);
    return !refused;
  }
};

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  std::string line(data, n);
  if (line.compare(0, 5, "HTTP/") == 0 || line.compare(0, 5, "http/") == 0) {
    t->head = HttpResponseHead();  // a new response head (after a redirect): forget the previous one
  } else {
    size_t colon = line.find(':');
    if (colon != std::string::npos) takeHeadField(t->head, line.substr(0, colon), line.substr(colon + 1));
  }
  return n;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  if (!t->deliverHead()) return 0;
  for (size_t done = 0; done < n;) {
    size_t piece = n - done < kHttpChunk ? n - done : kHttpChunk;
    done += piece;
    t->received += static_cast<int64_t>(piece);
    if (!t->sink->onData(data + done - piece, piece)) {
      // A sink that has had enough exactly at the announced end lets the
      // transfer end cleanly: its connection can serve the next request.
      if (done == n && t->head.hasContentLength && t->received == t->head.contentLength64) return n;
      t->stopped = true;
      return 0;
    }
  }
  return n;
}

uint32_t codeFor(CURLcode rc) {
  switch (rc) {
    case CURLE_OPERATION_TIMEDOUT:
      return kHttpErrorTimeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kHttpErrorNameNotResolved;
    case CURLE_COULDNT_CONNECT:
    case CURLE_PROXY:
      return kHttpErrorCannotConnect;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
      return kHttpErrorConnectionAborted;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_TOO_MANY_REDIRECTS:
      return kHttpErrorInvalidResponse;
    default:
      return kHttpErrorInternal;
  }
}

// Easy handles kept for requests that reuse connections: each keeps its
// connection open for the next request it serves. A handle serves one
// request at a time; the pool hands it to whichever thread asks next.
class HandlePool {
 public:
  ~HandlePool() {
    for (CURL* c : idle_) curl_easy_cleanup(c);
  }
  CURL* take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!idle_.empty()) {
        CURL* c = idle_.back();
        idle_.pop_back();
        curl_easy_reset(c);  // options go, the connection stays
        return c;
      }
    }
    return curl_easy_init();
  }
  void give(CURL* c) {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(c);
  }

 private:
  std::mutex mutex_;
  std::vector<CURL*> idle_;
};

// A fixed, small receive buffer: the system's own grows with every large
// read and lets a paced body run ahead of its cap.
int smallReceiveWindow(void*, curl_socket_t socket, curlsocktype) {
  int bytes = 32 * 1024;
  setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  return CURL_SOCKOPT_OK;
}

class CurlClient : public HttpClient {
 public:
  HttpResult get(const HttpRequest& request, HttpSink& sink) override {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    HttpResult result;
    Transfer t;
    t.sink = &sink;
    t.curl = request.reuseConnection ? pool_.take() : curl_easy_init();
    if (!t.curl) {
      result.code = kHttpErrorInternal;
      return result;
    }
    std::string url = "http://" + request.host + ":" + std::to_string(request.port) + "/";
    std::string proxy;
    if (!request.socksServer.empty()) proxy = "socks4://" + request.socksServer + ":" + request.socksPort;
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Pragma: no-cache");
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    for (const std::string& line : rangeHeaderLines(request)) headers = curl_slist_append(headers, line.c_str());

    CURL* c = t.curl;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    // The object path goes out as WinINet sends it: blanks escaped (a
    // request line cannot hold them), every other byte as it is, dot
    // segments not resolved.
    std::string target;
    for (char ch : request.objectPath) target += ch == ' ' ? std::string("%20") : std::string(1, ch);
    curl_easy_setopt(c, CURLOPT_REQUEST_TARGET, target.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_USERAGENT, request.agent.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    // An empty proxy string switches off the environment's proxies too.
    curl_easy_setopt(c, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(c, CURLOPT_FORBID_REUSE, request.reuseConnection ? 0L : 1L);
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, request.paced ? 16L * 1024 : 256L * 1024);
    curl_easy_setopt(c, CURLOPT_SOCKOPTFUNCTION, request.paced ? smallReceiveWindow : nullptr);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kHttpConnectTimeoutMs));
    // Stalled: less than one byte a second for the receive timeout.
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(kHttpReceiveTimeoutMs / 1000));
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);

    CURLcode rc = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (t.refused) {
      result.outcome = HttpOutcome::kRefused;
    } else if (t.stopped) {
      result.outcome = HttpOutcome::kEnded;
    } else if (status == 0) {
      result.outcome = HttpOutcome::kNotStarted;
      result.code = codeFor(rc);
    } else if (!t.deliverHead()) {
      result.outcome = HttpOutcome::kRefused;  // a head without body
    } else if (rc == CURLE_OK) {
      result.outcome = HttpOutcome::kEnded;
    } else {
      result.outcome = HttpOutcome::kBroken;
      result.code = codeFor(rc);
    }
    curl_slist_free_all(headers);
    // Only a handle whose body ended cleanly keeps its connection: after a
    // stop, a refusal or a break the connection is in the middle of a body.
    if (request.reuseConnection && rc == CURLE_OK)
      pool_.give(c);
    else
      curl_easy_cleanup(c);
    return result;
  }

 private:
  HandlePool pool_;
};

}  // namespace

HttpClient& platformHttpClient() {
  static CurlClient client;
  return client;
}

}  // namespace tvl
