#include "launcher/command_line.h"

namespace {

bool occurs(const std::string& text, const char* needle) { return findNoCase(text, needle, 0) != npos; }

}  // namespace

std::string buildGameCommandLine(const std::string& commandLine, const GameSettings& game) {
  std::string line = commandLine;
  if (!occurs(line, "/server=")) line += " /server=" + game.gameServer;
  if (!game.socksServer.empty() && !occurs(line, "/proxyServer="))
    line += " /proxyServer=" + game.socksServer + " /proxyPort=" + game.socksPort;
  if (!game.gamePort.empty() && !occurs(line, "/editor")) line += " /port=" + game.gamePort;
  if (!game.editorPort.empty() && occurs(line, "/editor")) line += " /port=" + game.editorPort;
  return line;
}

bool shouldUpdate(const std::string& commandLine, const ConnectionSettings& settings) {
  if (occurs(commandLine, "/disableupdate")) return false;
  if (occurs(commandLine, "/noserver")) return false;
  if (occurs(commandLine, "/editor")) return false;
  return !settings.update.host.empty();
}
