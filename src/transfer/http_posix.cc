// The libcurl transport: the same request as the Windows build sends (GET on
// the server's port, the object path verbatim, the agent, no-cache) and the
// same proxy rule. HTTPS is checked against the system's CA store (libcurl's
// default), and speaks HTTP/2 where the server offers it: requests that
// reuse connections then share one connection per server, multiplexed by
// one network thread. The SOCKS proxy is spoken as SOCKS4, the version WinINet's
// "socks=" proxy speaks (the name resolved here, as WinINet does), so one
// proxy serves both builds. Without a SOCKS server no proxy is used at all,
// whatever the environment's *_proxy variables say.
#include <curl/curl.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "transfer/http.h"
#include "transfer/http_head.h"
#include "transfer/secure_connection.h"

namespace tvl {


namespace {

struct Transfer {
  CURL* curl = nullptr;
  HttpSink* sink = nullptr;
  HttpResponseHead head;
  bool headDelivered = false;
  bool refused = false;
  bool stopped = false;
  bool sawSecure = false;  // a request of this transfer went over HTTPS
  bool downgrade = false;  // refused: a redirect from HTTPS to plain HTTP
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
      if (done == n && t->head.hasContentLength && t->received == t->head.contentLength) return n;
      t->stopped = true;
      return 0;
    }
  }
  return n;
}

// Before each request of a transfer (the first and every redirect's) goes
// out: once on HTTPS, never back to plain HTTP.
int beforeRequest(void* user, char*, char*, int, int) {
  auto* t = static_cast<Transfer*>(user);
  char* scheme = nullptr;
  curl_easy_getinfo(t->curl, CURLINFO_SCHEME, &scheme);
  bool secure = scheme && (scheme[0] == 'h' || scheme[0] == 'H') && (scheme[4] == 's' || scheme[4] == 'S');
  if (t->sawSecure && !secure) {
    t->downgrade = true;
    return CURL_PREREQFUNC_ABORT;
  }
  t->sawSecure = t->sawSecure || secure;
  return CURL_PREREQFUNC_OK;
}

// The certificate check's verdict in the Windows build's words.
uint32_t certificateCode(CURL* c) {
  long verdict = X509_V_OK;
  curl_easy_getinfo(c, CURLINFO_SSL_VERIFYRESULT, &verdict);
  switch (verdict) {
    case X509_V_OK:  // the chain was good: libcurl's own name check failed (and says so with "unspecified")
    case X509_V_ERR_UNSPECIFIED:
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return kHttpErrorCertName;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return kHttpErrorCertDate;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return kHttpErrorCertAuthority;
    case X509_V_ERR_CERT_REVOKED:
      return kHttpErrorCertRevoked;
    default:
      return kHttpErrorCertInvalid;
  }
}

// The host of the request that failed (a redirect's target, say).
std::string failedHost(CURL* c, const std::string& fallback) {
  char* url = nullptr;
  curl_easy_getinfo(c, CURLINFO_EFFECTIVE_URL, &url);
  std::string u = url ? url : "";
  size_t start = u.find("://");
  if (start == std::string::npos) return fallback;
  start += 3;
  size_t end = u[start] == '[' ? u.find(']', start) + 1 : u.find_first_of(":/", start);
  return u.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

uint32_t codeFor(CURLcode rc) {
  switch (rc) {
    case CURLE_SSL_CONNECT_ERROR:  // the handshake failed, a reset included
      return kHttpErrorSecureChannel;
    case CURLE_SSL_CACERT_BADFILE:  // no store of trusted authorities to check against
      return kHttpErrorCertAuthority;
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

// One multi handle on a thread of its own carries the transfers of requests
// that reuse secure connections: HTTP/2 lets them share one connection per
// server. A requesting thread hands its easy handle over and waits: its
// sink is called on the network thread meanwhile, never at the same time as
// on its own. Never destroyed (a request may still be waiting when the
// process ends); stop() ends and joins the thread at the orderly exit,
// before libcurl's and OpenSSL's own exit handlers run.
class Multiplexer {
 public:
  Multiplexer() : multi_(curl_multi_init()) {
    curl_multi_setopt(multi_, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
    thread_ = std::thread([this] { run(); });
  }

  CURLcode perform(CURL* easy) {
    Job job{easy};
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_) return CURLE_FAILED_INIT;
    waiting_.push_back(&job);
    curl_multi_wakeup(multi_);
    done_.wait(lock, [&] { return job.done; });
    return job.result;
  }

  // A request still waiting then waits for ever: the process is ending.
  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      stopping_ = true;
    }
    curl_multi_wakeup(multi_);
    if (thread_.joinable()) thread_.join();
    curl_multi_cleanup(multi_);
  }

 private:
  struct Job {
    CURL* easy;
    bool done = false;
    CURLcode result = CURLE_OK;
  };

  void run() {
    std::vector<Job*> active;
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        for (Job* job : waiting_) {
          curl_multi_add_handle(multi_, job->easy);
          active.push_back(job);
        }
        waiting_.clear();
      }
      int running = 0;
      curl_multi_perform(multi_, &running);
      int left = 0;
      while (CURLMsg* m = curl_multi_info_read(multi_, &left)) {
        if (m->msg != CURLMSG_DONE) continue;
        CURL* easy = m->easy_handle;
        CURLcode result = m->data.result;
        curl_multi_remove_handle(multi_, easy);
        for (size_t i = 0; i < active.size(); ++i) {
          if (active[i]->easy != easy) continue;
          std::lock_guard<std::mutex> lock(mutex_);
          active[i]->result = result;
          active[i]->done = true;
          active.erase(active.begin() + static_cast<std::ptrdiff_t>(i));
          done_.notify_all();
          break;
        }
      }
      curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }
  }

  CURLM* multi_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable done_;
  std::vector<Job*> waiting_;
  bool stopping_ = false;
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
    if (request.port == 0) {
      result.code = kHttpErrorInvalidUrl;
      return result;
    }
    // Secure requests that reuse connections go through the multiplexer,
    // which keeps the connections; their handles are not kept.
    bool multiplexed = request.secure && request.reuseConnection;
    bool pooled = request.reuseConnection && !multiplexed;
    Transfer t;
    t.sink = &sink;
    t.curl = pooled ? pool_.take() : curl_easy_init();
    if (!t.curl) {
      result.code = kHttpErrorInternal;
      return result;
    }
    std::string url = std::string(request.secure ? "https://" : "http://") + request.host + ":" +
                      std::to_string(request.port) + "/";
    std::string proxy;
    if (!request.socksServer.empty()) proxy = "socks4://" + request.socksServer + ":" + request.socksPort;
    curl_slist* headers = nullptr;
    if (!request.immutable) {
      headers = curl_slist_append(headers, "Pragma: no-cache");
      headers = curl_slist_append(headers, "Cache-Control: no-cache");
    }
    for (const std::string& line : rangeHeaderLines(request)) headers = curl_slist_append(headers, line.c_str());

    CURL* c = t.curl;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    // The object path goes out as WinINet sends it: blanks escaped (a
    // request line cannot hold them), every other byte as it is, dot
    // segments not resolved.
    std::string target;
    for (char ch : request.objectPath) target += ch == ' ' ? std::string("%20") : std::string(1, ch);
    curl_easy_setopt(c, CURLOPT_REQUEST_TARGET, target.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_PREREQFUNCTION, beforeRequest);
    curl_easy_setopt(c, CURLOPT_PREREQDATA, &t);
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    // A new transfer waits for a connection being set up to the same server
    // rather than open another, so that it can share it when HTTP/2 comes.
    curl_easy_setopt(c, CURLOPT_PIPEWAIT, multiplexed ? 1L : 0L);
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

    CURLcode rc = multiplexed ? multiplexer().perform(c) : curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (t.refused) {
      result.outcome = HttpOutcome::kRefused;
    } else if (t.stopped) {
      result.outcome = HttpOutcome::kEnded;
    } else if (uint32_t refusal = t.downgrade ? uint32_t{kHttpErrorHttpsToHttp}
                                  : rc == CURLE_PEER_FAILED_VERIFICATION ? certificateCode(c)
                                  : !secureConnectionProblem(codeFor(rc)).empty() ? codeFor(rc)
                                                                                 : 0u) {
      // Refused before the final response (a redirect's head is passed over).
      result.outcome = HttpOutcome::kNotStarted;
      result.code = refusal;
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
    if (!secureConnectionProblem(result.code).empty()) noteSecureRefusal(failedHost(c, request.host), result.code);
    long version = 0;
    if (request.secure && curl_easy_getinfo(c, CURLINFO_HTTP_VERSION, &version) == CURLE_OK &&
        version == CURL_HTTP_VERSION_2_0) {
      std::lock_guard<std::mutex> lock(multiplexingMutex_);
      multiplexing_.insert(serverKey(request));
    }
    curl_slist_free_all(headers);
    // Only a handle whose body ended cleanly keeps its connection: after a
    // stop, a refusal or a break the connection is in the middle of a body.
    if (pooled && rc == CURLE_OK)
      pool_.give(c);
    else
      curl_easy_cleanup(c);
    return result;
  }

  int transfersPerConnection(const HttpRequest& request) override {
    std::lock_guard<std::mutex> lock(multiplexingMutex_);
    return request.secure && multiplexing_.count(serverKey(request)) ? kStreamsPerConnection : 1;
  }

 private:
  // Transfers one HTTP/2 connection carries at once: enough that small
  // files do not each wait a round trip, few enough to keep the window of
  // staged files small.
  static constexpr int kStreamsPerConnection = 8;

  static std::string serverKey(const HttpRequest& r) { return r.host + ":" + std::to_string(r.port); }

  static Multiplexer& multiplexer() {
    static Multiplexer* m = new Multiplexer;
    // Made after curl_global_init, so destroyed before the exit handlers
    // it registered (OpenSSL's cleanup among them) run.
    static struct StopAtExit {
      ~StopAtExit() { m->stop(); }
    } stopAtExit;
    return *m;
  }

  HandlePool pool_;
  std::mutex multiplexingMutex_;
  std::set<std::string> multiplexing_;  // servers seen to speak HTTP/2
};

}  // namespace

HttpClient& platformHttpClient() {
  static CurlClient client;
  return client;
}

}  // namespace tvl
