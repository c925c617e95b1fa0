#include "launcher/settings.h"

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
