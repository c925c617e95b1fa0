#include "launcher/command_line.h"

namespace tvl {


namespace {

bool occurs(const std::string& text, const char* needle) { return findNoCase(text, needle, 0) != npos; }

const char kLinkSwitch[] = "/externlogin=";

}  // namespace

LinkSplit splitAtLink(const std::string& commandLine) {
  size_t at = findNoCase(commandLine, kLinkSwitch, 0);
  if (at == npos) return {commandLine, std::string()};
  const size_t valueAt = at + sizeof kLinkSwitch - 1;
  std::string value = commandLine.substr(valueAt);
  size_t headEnd = at;
  // A quote that opens the link's argument (it follows a blank) belongs to
  // the link: left in the head it would stay open and take in the switches
  // appended after the link.
  if (at >= 2 && commandLine[at - 1] == '"' && (commandLine[at - 2] == ' ' || commandLine[at - 2] == '\t')) {
    headEnd = at - 1;
    if (!value.empty() && value.back() == '"') value.pop_back();
    std::string unquoted;
    for (size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == '"') ++i;
      unquoted += value[i];
    }
    value = unquoted;
  }
  return {commandLine.substr(0, headEnd), commandLine.substr(at, valueAt - at) + encodeLink(value)};
}

std::string encodeLink(const std::string& link) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(link.size());
  for (char ch : link) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == '"' || c == 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += ch;
    }
  }
  return out;
}

std::string buildGameCommandLine(const std::string& commandLine, const GameSettings& game) {
  const LinkSplit split = splitAtLink(commandLine);
  // The rules see what earlier rules appended: a server value holding
  // "/editor" counts as that switch.
  std::string searched = split.head;
  std::string appended;
  auto append = [&](const std::string& text) {
    searched += text;
    appended += text;
  };
  if (!occurs(searched, "/server=")) append(" /server=" + game.gameServer);
  if (!game.socksServer.empty() && !occurs(searched, "/proxyServer="))
    append(" /proxyServer=" + game.socksServer + " /proxyPort=" + game.socksPort);
  if (!game.gamePort.empty() && !occurs(searched, "/editor")) append(" /port=" + game.gamePort);
  if (!game.editorPort.empty() && occurs(searched, "/editor")) append(" /port=" + game.editorPort);
  return split.head + split.link + appended;
}

bool shouldUpdate(const std::string& commandLine, const ConnectionSettings& settings) {
  const std::string head = splitAtLink(commandLine).head;
  if (occurs(head, "/disableupdate")) return false;
  if (occurs(head, "/noserver")) return false;
  if (occurs(head, "/editor")) return false;
  return !settings.update.host.empty();
}

}  // namespace tvl
