// The launcher as handler of the URL scheme Tervalis3D: a link of that scheme
// starts the launcher with "/externlogin=<link>" on its command line, which
// the launcher passes on to the game without obeying anything in it
// (splitAtLink). Registered anew at every start, on both roads, before the
// update decision.
#pragma once

#include <string>
#include <vector>

namespace tvl {


extern const char kUrlScheme[];       // "Tervalis3D"
extern const char kUrlVerb[];         // "TervalisOnline2D"
extern const char kUrlMarkerValue[];  // "URL Protocol"

// The program path of a command line that starts with a double quote and has
// a closing one: the text between them. False for any other command line.
bool quotedProgramPath(const std::string& commandLine, std::string* path);

// path + " /externlogin=%1".
std::string urlCommandFor(const std::string& path);

// One key below HKEY_CLASSES_ROOT, created in this order, with the REG_SZ
// value it gets (if any). An empty valueName is the key's default value.
struct UrlRegistryEntry {
  std::string key;
  bool setsValue;
  std::string valueName;
  std::string data;
};
std::vector<UrlRegistryEntry> urlRegistryEntries(const std::string& launcherPath);

// Reads the process command line itself and registers the scheme. Best
// effort: every failure is ignored and nothing is reported.
void registerUrlProtocol();

}  // namespace tvl
