#include "launcher/url_protocol.h"

#include "launcher/command_line.h"

namespace tvl {


const char kUrlScheme[] = "Tervalis3D";
const char kUrlVerb[] = "TervalisOnline2D";
const char kUrlMarkerValue[] = "URL Protocol";

bool quotedProgramPath(const std::string& commandLine, std::string* path) {
  if (commandLine.empty() || commandLine[0] != '"') return false;
  size_t close = findNoCase(commandLine, "\"", 1);
  if (close == npos) return false;
  *path = commandLine.substr(1, close - 1);
  return true;
}

std::string urlCommandFor(const std::string& path) { return path + " /externlogin=%1"; }

std::vector<UrlRegistryEntry> urlRegistryEntries(const std::string& launcherPath) {
  const std::string scheme = kUrlScheme;
  const std::string shell = scheme + "\\Shell";
  const std::string verb = shell + "\\" + kUrlVerb;
  return {
      {scheme, true, kUrlMarkerValue, ""},
      {shell, true, "", kUrlVerb},
      {verb, false, "", ""},
      {verb + "\\command", true, "", urlCommandFor(launcherPath)},
  };
}

}  // namespace tvl
