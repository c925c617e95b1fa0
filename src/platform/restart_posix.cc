#include "platform/restart.h"

#include <spawn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/process.h"

extern char** environ;

namespace platform {
namespace {
const char kMark[] = "TERVALIS_LAUNCHER_RESTARTED";
}

std::string launcherFileName() {
  std::string self = modulePath();
  size_t slash = self.rfind('/');
  std::string name = slash == std::string::npos ? self : self.substr(slash + 1);
  return name.empty() ? "TervalisOnline2D" : name;
}

// The launcher's command line is rebuilt from its arguments, so the same
// arguments give the restarted launcher the same command line.
bool startWithOwnCommandLine(const std::string& program) {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<char*> argv;
  for (size_t start = 0; start < raw.size();) {
    argv.push_back(&raw[start]);
    size_t end = raw.find('\0', start);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (argv.empty()) return false;
  argv.push_back(nullptr);
  std::string path = program;
  for (char& c : path)
    if (c == '\\') c = '/';
  pid_t pid;
  return posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
}

void makeExecutable(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return;
  // Execute wherever reading is allowed, as an installed program has it.
  mode_t mode = st.st_mode | ((st.st_mode & 0444) >> 2);
  chmod(p.c_str(), mode & 07777);
}

void setRestartMark() { setenv(kMark, "1", 1); }

bool takeRestartMark() {
  if (!std::getenv(kMark)) return false;
  unsetenv(kMark);
  return true;
}

}  // namespace platform
