#include "launcher/url_protocol.h"
#include "launcher/url_protocol_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/process.h"

namespace tvl {


const char kDesktopFileName[] = "tervalis3d-launcher.desktop";
const char kSchemeMimeType[] = "x-scheme-handler/tervalis3d";

namespace {

const char kDefaultSection[] = "[Default Applications]";

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// Escapes of the desktop entry's string values, applied after the Exec
// quoting.
std::string escapeValue(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

bool makeDirectories(const std::string& dir) {
  for (size_t i = 1; i <= dir.size(); ++i) {
    if (i < dir.size() && dir[i] != '/') continue;
    std::string part = dir.substr(0, i);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool readWhole(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// Replaces path whole, so a reader never sees half a file.
bool replaceFile(const std::string& path, const std::string& text) {
  std::string old;
  if (readWhole(path, &old) && old == text) return true;
  std::string tmp = path + ".tmp" + std::to_string(getpid());
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = (std::fflush(f) == 0) && ok;
  ok = (fsync(fileno(f)) == 0) && ok;
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

std::string envOr(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

}  // namespace

std::string desktopExecArgument(const std::string& argument) {
  std::string a;
  for (char c : argument) {
    if (c == '%') a += '%';
    a += c;
  }
  if (!a.empty() && a.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos) return a;
  std::string out = "\"";
  for (char c : a) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string desktopEntryText(const std::string& launcherPath) {
  return std::string("[Desktop Entry]\n") +
         "Type=Application\n"
         "Name=" + kUrlVerb + "\n"
         "Comment=Opens " + kUrlScheme + " links in TervalisOnline2D\n"
         "Exec=" + escapeValue(desktopExecArgument(launcherPath)) + " /externlogin=%u\n"
         "Terminal=false\n"
         "NoDisplay=true\n"
         "MimeType=" + kSchemeMimeType + ";\n";
}

std::string withDefaultHandler(const std::string& mimeappsText, const std::string& mimeType,
                               const std::string& desktopFile) {
  const std::string entry = mimeType + "=" + desktopFile + ";";
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < mimeappsText.size()) {
    size_t end = mimeappsText.find('\n', start);
    if (end == std::string::npos) end = mimeappsText.size();
    lines.push_back(mimeappsText.substr(start, end - start));
    start = end + 1;
  }

  size_t section = lines.size();
  for (size_t i = 0; i < lines.size(); ++i)
    if (trim(lines[i]) == kDefaultSection) {
      section = i;
      break;
    }
  if (section == lines.size()) {
    if (!lines.empty() && !trim(lines.back()).empty()) lines.push_back("");
    lines.push_back(kDefaultSection);
    lines.push_back(entry);
  } else {
    size_t insertAt = section + 1;
    bool replaced = false;
    for (size_t i = section + 1; i < lines.size(); ++i) {
      std::string t = trim(lines[i]);
      if (!t.empty() && t[0] == '[') break;
      if (t.empty() || t[0] == '#') continue;
      size_t eq = t.find('=');
      if (eq != std::string::npos && trim(t.substr(0, eq)) == mimeType) {
        lines[i] = entry;
        replaced = true;
      }
      insertAt = i + 1;
    }
    if (!replaced) lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
  }

  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

bool xdgDirsFromEnvironment(XdgDirs* dirs) {
  std::string home = envOr("HOME");
  std::string data = envOr("XDG_DATA_HOME");
  std::string config = envOr("XDG_CONFIG_HOME");
  // Relative values are invalid by the base directory rules.
  if (data.empty() || data[0] != '/') data = home.empty() ? std::string() : home + "/.local/share";
  if (config.empty() || config[0] != '/') config = home.empty() ? std::string() : home + "/.config";
  if (data.empty() || config.empty()) return false;
  dirs->applications = data + "/applications";
  dirs->config = config;
  return true;
}

bool registerUrlProtocolAt(const std::string& launcherPath, const XdgDirs& dirs) {
  if (!makeDirectories(dirs.applications) || !makeDirectories(dirs.config)) return false;
  if (!replaceFile(dirs.applications + "/" + kDesktopFileName, desktopEntryText(launcherPath))) return false;
  std::string mimeapps = dirs.config + "/mimeapps.list";
  std::string text;
  readWhole(mimeapps, &text);
  return replaceFile(mimeapps, withDefaultHandler(text, kSchemeMimeType, kDesktopFileName));
}

// POSIX has no quoted program path to go by: the entry names the running
// executable by its absolute path, which stays right however it was started.
// Links are opened from a graphical session; without one (a server, a test
// run) nothing is written to the user's folders.
void registerUrlProtocol() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  if (!(x && *x) && !(w && *w)) return;
  std::string path = platform::modulePath();
  XdgDirs dirs;
  if (path.empty() || !xdgDirsFromEnvironment(&dirs)) return;
  registerUrlProtocolAt(path, dirs);
}

}  // namespace tvl
