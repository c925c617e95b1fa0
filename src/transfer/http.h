// One HTTP GET, streamed into a sink: the only network code of the launcher.
//
// The transport (WinINet on Windows, libcurl elsewhere) owns the connection
// and hands the response over in two steps, the head and then the body in
// chunks of at most kHttpChunk bytes. It judges nothing: whether the body is
// complete or the status acceptable is the sink's business (a 206 comes
// through as it is, like any other status).
//
// Thread safety: both transports may be used from several threads at once,
// one request per thread at a time; a request owns all its handles (WinINet:
// its own Internet, connection and request handles; libcurl: an easy handle
// of its thread). The sink is called while get() runs, on the requesting
// thread, or (libcurl, secure requests that reuse connections) on the
// network thread that multiplexes them while the requesting thread waits:
// never on two threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tvl {


constexpr size_t kHttpChunk = 8192;

// Codes shown to the user for transfers that fail outside the platform's own
// error reporting. They are WinINet's numbers, so that both builds name the
// same fault the same way.
enum : uint32_t {
  kHttpErrorTimeout = 12002,            // ERROR_INTERNET_TIMEOUT
  kHttpErrorInternal = 12004,           // ERROR_INTERNET_INTERNAL_ERROR
  kHttpErrorInvalidUrl = 12005,         // ERROR_INTERNET_INVALID_URL: a server setting that names no server
  kHttpErrorNameNotResolved = 12007,    // ERROR_INTERNET_NAME_NOT_RESOLVED
  kHttpErrorCannotConnect = 12029,      // ERROR_INTERNET_CANNOT_CONNECT
  kHttpErrorConnectionAborted = 12030,  // ERROR_INTERNET_CONNECTION_ABORTED
  kHttpErrorHeaderNotFound = 12150,     // ERROR_HTTP_HEADER_NOT_FOUND
  kHttpErrorInvalidResponse = 12152,    // ERROR_HTTP_INVALID_SERVER_RESPONSE
  // A secure connection refused (secure_connection.h says why in words).
  kHttpErrorCertDate = 12037,           // ERROR_INTERNET_SEC_CERT_DATE_INVALID
  kHttpErrorCertName = 12038,           // ERROR_INTERNET_SEC_CERT_CN_INVALID
  kHttpErrorHttpsToHttp = 12040,        // ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR
  kHttpErrorCertAuthority = 12045,      // ERROR_INTERNET_INVALID_CA
  kHttpErrorCertErrors = 12055,         // ERROR_INTERNET_SEC_CERT_ERRORS
  kHttpErrorCertNoRevocation = 12056,   // ERROR_INTERNET_SEC_CERT_NO_REV
  kHttpErrorCertRevocationFailed = 12057,  // ERROR_INTERNET_SEC_CERT_REV_FAILED
  kHttpErrorSecureChannel = 12157,      // ERROR_INTERNET_SECURITY_CHANNEL_ERROR
  kHttpErrorCertInvalid = 12169,        // ERROR_INTERNET_SEC_INVALID_CERT
  kHttpErrorCertRevoked = 12170,        // ERROR_INTERNET_SEC_CERT_REVOKED
};

struct HttpRequest {
  std::string host;        // name or address, no scheme, no port
  uint16_t port = 80;      // 0: the server setting was not valid (kHttpErrorInvalidUrl)
  // HTTPS with the system's certificate checks; a redirect may lead from
  // HTTP to HTTPS, never back.
  bool secure = false;
  std::string objectPath;  // sent as it is: nothing escaped
  std::string agent;
  // SOCKS proxy when socksServer is not empty; never the system's proxy.
  std::string socksServer;
  std::string socksPort;
  // Resuming a body: rangeFrom > 0 asks for the bytes from there on
  // ("Range: bytes=N-"); ifRange, when not empty, is sent as "If-Range" (an
  // ETag or a Last-Modified date, as the server sent it), so that a file
  // that changed comes whole with a 200 instead of as a foreign tail.
  int64_t rangeFrom = 0;
  std::string ifRange;
  // Keeps the connection open for the thread's next request to the same
  // server (keep-alive). Off, every request has a connection of its own.
  bool reuseConnection = false;
  // The caller takes the body slowly (a download cap): the transport reads
  // little at a time and keeps its receive window small, so that what the
  // server sends follows the cap instead of piling up in buffers.
  bool paced = false;
  // An address whose bytes never change (an object named by its digest):
  // sent without the no-cache request headers, so that a cache in between
  // may answer it.
  bool immutable = false;
};

// What a response head tells, beyond the status. Header values are as the
// server sent them (an ETag keeps its quotes); an absent header is empty.
struct HttpResponseHead {
  int status = 0;
  bool hasContentLength = false;
  int64_t contentLength = 0;  // as parseContentLength reads it
  std::string etag;
  std::string lastModified;
  // "Content-Range: bytes first-last/total"; total is -1 for "*".
  bool hasContentRange = false;
  int64_t rangeFirst = 0, rangeLast = 0, rangeTotal = -1;
};

class HttpSink {
 public:
  virtual ~HttpSink() = default;
  // The response head; a sink overrides one of the two. The transport calls
  // onHead, which by default hands the status and the Content-Length to
  // onResponse. contentLength is the header's text read as a signed decimal
  // number; hasContentLength is false when the header is missing.
  // Returning false refuses the body: the transport ends without reading it.
  virtual bool onHead(const HttpResponseHead& head) {
    return onResponse(head.status, head.hasContentLength, head.contentLength);
  }
  virtual bool onResponse(int /*status*/, bool /*hasContentLength*/, int64_t /*contentLength*/) { return false; }
  // One chunk of the body, 1 to kHttpChunk bytes. Returning false ends the
  // transfer.
  virtual bool onData(const char* data, size_t size) = 0;
};

enum class HttpOutcome {
  kNotStarted,  // no response head: connect, send or header query failed
  kRefused,     // the sink refused the response head
  kEnded,       // the body ended: the server closed or the sink stopped
  kBroken,      // the body broke off: read error or timeout
};

struct HttpResult {
  HttpOutcome outcome = HttpOutcome::kNotStarted;
  uint32_t code = 0;  // the platform's error code for kNotStarted and kBroken
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  virtual HttpResult get(const HttpRequest& request, HttpSink& sink) = 0;
  // How many transfers like request one kept connection carries at once:
  // more than 1 once the server has been seen to multiplex them (HTTP/2).
  virtual int transfersPerConnection(const HttpRequest& /*request*/) { return 1; }
};

// The platform's transport. Connect timeout kHttpConnectTimeoutMs; a body or
// head that stalls for kHttpReceiveTimeoutMs breaks off with
// kHttpErrorTimeout.
HttpClient& platformHttpClient();

constexpr int kHttpConnectTimeoutMs = 15000;
constexpr int kHttpReceiveTimeoutMs = 20000;

}  // namespace tvl
