// The WinINet transport. The WinINet calls go through a table of function
// pointers so that a test can stand in for the library and record exactly
// what the launcher asks of it (Wine's WinINet ignores a SOCKS proxy string,
// so the request arguments are the only proof of the proxy road there).
#pragma once

#include <windows.h>
#include <wininet.h>

#include <mutex>
#include <string>
#include <vector>

#include "transfer/http.h"

namespace tvl {


struct WinInetApi {
  HINTERNET(WINAPI* internetOpenA)(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass, DWORD flags);
  BOOL(WINAPI* internetSetOptionA)(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length);
  HINTERNET(WINAPI* internetConnectA)(HINTERNET internet, LPCSTR serverName, INTERNET_PORT port, LPCSTR userName,
                                      LPCSTR password, DWORD service, DWORD flags, DWORD_PTR context);
  HINTERNET(WINAPI* httpOpenRequestA)(HINTERNET connection, LPCSTR verb, LPCSTR objectName, LPCSTR version,
                                      LPCSTR referrer, LPCSTR* acceptTypes, DWORD flags, DWORD_PTR context);
  BOOL(WINAPI* httpSendRequestA)(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional,
                                 DWORD optionalLength);
  BOOL(WINAPI* httpQueryInfoA)(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength,
                               LPDWORD index);
  BOOL(WINAPI* internetQueryDataAvailable)(HINTERNET file, LPDWORD available, DWORD flags, DWORD_PTR context);
  BOOL(WINAPI* internetReadFile)(HINTERNET file, LPVOID buffer, DWORD toRead, LPDWORD read);
  BOOL(WINAPI* internetCloseHandle)(HINTERNET handle);
  DWORD(WINAPI* getLastError)();
  ULONGLONG(WINAPI* tickCount)();  // milliseconds
};

// The system's wininet.dll.
const WinInetApi& systemWinInet();

// Safe for several threads at once: a request owns its handles. Requests
// that reuse connections share Internet and connection handles through a
// locked pool, one request per pair at a time.
class WinInetClient : public HttpClient {
 public:
  // The api table outlives the client (and any request it gave up on).
  // sendDeadlineMs bounds connecting, sending and the response head
  // together.
  explicit WinInetClient(const WinInetApi& api, int sendDeadlineMs = kHttpConnectTimeoutMs + kHttpReceiveTimeoutMs)
      : api_(api), sendDeadlineMs_(sendDeadlineMs) {}
  ~WinInetClient() override;
  HttpResult get(const HttpRequest& request, HttpSink& sink) override;

 private:
  struct Session {
    std::string key;  // agent, proxy, host, port
    HINTERNET internet, connection;
  };
  // HttpSendRequestA within the deadline; false with the error (or
  // kHttpErrorTimeout) otherwise.
  // One request, without WinINet's own redirects: a redirect it may follow
  // ends it not started, with *redirect set to where it leads (redirect
  // null: none may be followed).
  HttpResult getOnce(const HttpRequest& request, HttpSink& sink, HttpRequest* redirect);
  bool sendWithDeadline(HINTERNET request, const std::string& headers, DWORD* error);
  bool takeSession(const std::string& key, Session* out);
  void giveSession(const Session& session);

  const WinInetApi& api_;
  int sendDeadlineMs_;
  std::once_flag connsRaised_;
  std::mutex mutex_;
  std::vector<Session> idle_;
};

}  // namespace tvl
