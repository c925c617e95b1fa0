// One HTTP GET, streamed into a sink: the only network code of the launcher.
//
// The transport (WinINet on Windows, libcurl elsewhere) owns the connection
// and hands the response over in two steps, the head and then the body in
// chunks of at most kHttpChunk bytes. It judges nothing: whether the body is
// complete or the status acceptable is the sink's business. Used on the
// update worker thread only; one request at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
};

class HttpSink {
 public:
  virtual ~HttpSink() = default;
  // The response head. contentLength is the header's text read as a signed
  // decimal number; hasContentLength is false when the header is missing.
  // Returning false refuses the body: the transport ends without reading it.
  virtual bool onResponse(int status, bool hasContentLength, int32_t contentLength) = 0;
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
