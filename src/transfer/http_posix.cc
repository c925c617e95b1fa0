// The libcurl transport: the same request as the Windows build sends (GET on
// port 80, the object path verbatim, the agent, no-cache) and the same
// proxy rule. The SOCKS proxy is spoken as SOCKS4, the version WinINet's
// "socks=" proxy speaks (the name resolved here, as WinINet does), so one
// proxy serves both builds. Without a SOCKS server no proxy is used at all,
// whatever the environment's *_proxy variables say.
#include <curl/curl.h>

#include <cstring>
#include <mutex>
#include <string>

#include "transfer/content_length.h"
#include "transfer/http.h"

namespace {

struct Transfer {
  CURL* curl = nullptr;
  HttpSink* sink = nullptr;
  bool hasLength = false;
  int32_t contentLength = 0;
  bool headDelivered = false;
  bool refused = false;
  bool stopped = false;

  // The head goes to the sink once, with the final response's status (a
  // redirect's own head is passed over, as WinINet follows redirects too).
  bool deliverHead() {
    if (headDelivered) return !refused;
    headDelivered = true;
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    refused = !sink->onResponse(static_cast<int>(status), hasLength, contentLength);
    return !refused;
  }
};

bool startsWithNoCase(const char* s, size_t n, const char* prefix) {
  size_t k = std::strlen(prefix);
  if (n < k) return false;
  for (size_t i = 0; i < k; ++i) {
    char a = s[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != prefix[i]) return false;
  }
  return true;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  if (startsWithNoCase(data, n, "http/")) {
    // A new response head (after a redirect): forget the previous one.
    t->hasLength = false;
    t->contentLength = 0;
  } else if (startsWithNoCase(data, n, "content-length:")) {
    std::string value(data + 15, n - 15);
    t->hasLength = true;
    t->contentLength = parseContentLength(value.c_str());
  }
  return n;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  if (!t->deliverHead()) return 0;
  for (size_t done = 0; done < n;) {
    size_t piece = n - done < kHttpChunk ? n - done : kHttpChunk;
    if (!t->sink->onData(data + done, piece)) {
      t->stopped = true;
      return 0;
    }
    done += piece;
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

class CurlClient : public HttpClient {
 public:
  HttpResult get(const HttpRequest& request, HttpSink& sink) override {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    HttpResult result;
    Transfer t;
    t.sink = &sink;
    t.curl = curl_easy_init();
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
    curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
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
    curl_easy_cleanup(c);
    return result;
  }
};

}  // namespace

HttpClient& platformHttpClient() {
  static CurlClient client;
  return client;
}
