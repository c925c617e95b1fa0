#include "launcher/command_line.h"

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool occurs(const std::string& text, const char* needle) { return findNoCase(text, needle, 0) != npos; }

}  // namespace

size_t findNoCase(const std::string& text, const std::string& needle, size_t start) {
  if (text.empty() || start >= text.size()) return npos;
  if (needle.size() > text.size()) return npos;
  for (size_t i = start; i + needle.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && lowerAscii(text[i + k]) == lowerAscii(needle[k])) ++k;
    if (k == needle.size()) return i;
  }
  return npos;
}

std::string intToString(int32_t value) {
  // Work in 64 bits so that the lowest value has a positive counterpart.
  int64_t v = value;
  bool negative = v < 0;
  if (negative) v = -v;
  char buf[16];
  size_t i = sizeof buf;
  do {
    buf[--i] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (negative) buf[--i] = '-';
  return std::string(buf + i, sizeof buf - i);
}

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
