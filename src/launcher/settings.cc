#include "launcher/settings.h"

namespace tvl {


ConnectionSettings& connectionSettings = *new ConnectionSettings;

const char kSettingsFile[] = "./TervalisOnline2D.ini";
const char kSettingsSection[] = "Connection";

void loadConnectionSettings() {
  auto read = [](const char* key, const char* def) { return readSetting(kSettingsSection, key, def, kSettingsFile); };
  ConnectionSettings& s = connectionSettings;
  s.update.host = read("update_server", TVL_DEFAULT_UPDATE_SERVER);
  s.update.path = read("update_path", "/3d/");
  s.icons.host = read("icons_server", TVL_DEFAULT_ICONS_SERVER);
  s.icons.path = read("icons_path", "/swf/");
  s.game.gameServer = read("game_server", TVL_DEFAULT_GAME_SERVER);
  s.game.gamePort = read("game_port", "3801");
  s.game.editorPort = read("editor_port", "5191");
  s.game.socksServer = read("socks_server", "");
  s.game.socksPort = read("socks_port", "");
}

int settingNumber(const std::string& text, int low, int high, int fallback) {
  if (text.empty() || text.size() > 6) return fallback;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + (c - '0');
  }
  return value < low || value > high ? fallback : value;
}

UpdateOptions loadUpdateOptions() {
  UpdateOptions o;
  o.connections = settingNumber(readSetting(kSettingsSection, "download_connections", "", kSettingsFile), 1, 16,
                                o.connections);
  o.retries = settingNumber(readSetting(kSettingsSection, "download_retries", "", kSettingsFile), 0, 10, o.retries);
  o.checkIndex = settingNumber(readSetting(kSettingsSection, "check_index", "", kSettingsFile), 0, 1, 0) == 1;
  o.fullCheckDays =
      settingNumber(readSetting(kSettingsSection, "full_check_days", "", kSettingsFile), 1, 365, o.fullCheckDays);
  o.limitKbps =
      settingNumber(readSetting(kSettingsSection, "download_limit_kbps", "", kSettingsFile), 0, 999999, 0);
  o.mirrors = readSetting(kSettingsSection, "update_mirrors", "", kSettingsFile);
  return o;
}

}  // namespace tvl
