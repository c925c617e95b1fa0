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
// of its thread). The sink is called on the requesting thread only.
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
  kHttpErrorNameNotResolved = 12007,    // ERROR_INTERNET_NAME_NOT_RESOLVED
  kHttpErrorCannotConnect = 12029,      // ERROR_INTERNET_CANNOT_CONNECT
  kHttpErrorConnectionAborted = 12030,  // ERROR_INTERNET_CONNECTION_ABORTED
  kHttpErrorHeaderNotFound = 12150,     // ERROR_HTTP_HEADER_NOT_FOUND
  kHttpErrorInvalidResponse = 12152,    // ERROR_HTTP_INVALID_SERVER_RESPONSE
};

struct HttpRequest {
  std::string host;        // name or address, no scheme, no port
  uint16_t port = 80;
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
};

// What a response head tells, beyond the status. Header values are as the
// server sent them (an ETag keeps its quotes); an absent header is empty.
struct HttpResponseHead {
  int status = 0;
  bool hasContentLength = false;
  int32_t contentLength = 0;    // parseContentLength's 32-bit reading
  int64_t contentLength64 = 0;  // the same without the 32-bit bound
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
  virtual bool onResponse(int /*status*/, bool /*hasContentLength*/, int32_t /*contentLength*/) { return false; }
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
};

// The platform's transport. Connect timeout kHttpConnectTimeoutMs; a body or
// head that stalls for kHttpReceiveTimeoutMs breaks off with
// kHttpErrorTimeout.
HttpClient& platformHttpClient();

constexpr int kHttpConnectTimeoutMs = 15000;
constexpr int kHttpReceiveTimeoutMs = 20000;

}  // namespace tvl
