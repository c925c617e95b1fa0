// Where the launcher fetches from and what it tells the game: the records of
// the settings section "Connection". Read once at start-up, read-only
// afterwards.
#pragma once

#include <string>

namespace tvl {


struct ServerLocation {
  std::string host;  // host name or address, no scheme, no port
  std::string path;  // prefix put before a file's list name in a request
};

struct GameSettings {
  std::string gameServer;
  std::string socksServer;
  std::string socksPort;
  std::string gamePort;
  std::string editorPort;
};

struct ConnectionSettings {
  GameSettings game;
  ServerLocation update;
  ServerLocation icons;
};

// How the update fetches: settings of the same section beyond the nine above.
struct UpdateOptions {
  int connections = 1;  // "download_connections": transfers at once
  int retries = 2;      // "download_retries": further attempts after a transient failure
  bool checkIndex = false;  // "check_index": trust the index of verified files
  int fullCheckDays = 7;    // "full_check_days": read every file at least this often
  int limitKbps = 0;        // "download_limit_kbps": kilobytes a second for all transfers together; 0: no cap
  std::string mirrors;      // "update_mirrors": servers a signed release's files may also come from
};

}  // namespace tvl
