// Connection settings: the nine strings of section "Connection" of
// TervalisOnline2D.ini. Read once at start-up on the main thread, read-only
// afterwards, so other threads read them without a lock.
#pragma once

#include <string>

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

extern ConnectionSettings connectionSettings;

extern const char kSettingsFile[];     // "./TervalisOnline2D.ini"
extern const char kSettingsSection[];  // "Connection"

// Fills connectionSettings from kSettingsFile; missing keys get defaults.
void loadConnectionSettings();

// One value through the platform's profile-string reader (buffer of 32767
// characters, so values are cut to 32766).
std::string readSetting(const std::string& section, const std::string& key, const std::string& defaultValue,
                        const std::string& fileName);
