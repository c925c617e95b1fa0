#include "platform/process.h"

#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

extern char** environ;

namespace platform {
namespace {

// Arguments with blanks or quotes are put in double quotes, the way a
// Windows shell would have written them, so the text rules stay the same.
std::string quoteArgument(const std::string& a) {
  if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) return a;
  std::string out = "\"";
  for (char c : a) {
    if (c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Paths built by the launcher use "\" as on Windows ("." + "\" + name).
std::string nativePath(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

}  // namespace

std::string commandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string out;
  size_t start = 0;
  while (start < raw.size()) {
    size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    if (!out.empty()) out += ' ';
    out += quoteArgument(raw.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::string modulePath() {
  std::vector<char> buf(PATH_MAX + 1);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return std::string();
  return std::string(buf.data(), static_cast<size_t>(n));
}

char pathSeparator() { return '/'; }

bool setCurrentDirectory(const std::string& dir) { return chdir(nativePath(dir).c_str()) == 0; }

std::string currentDirectory() {
  std::vector<char> buf(PATH_MAX + 1);
  if (!getcwd(buf.data(), buf.size())) return std::string();
  return buf.data();
}

bool pathExists(const std::string& path) {
  struct stat st;
  return stat(nativePath(path).c_str(), &st) == 0;
}

// The new program gets the launcher's command line as one argument, exactly
// as built: argv = { program, commandLine }.
bool startProcess(const std::string& program, const std::string& commandLine) {
  std::string prog = nativePath(program);
  std::vector<char*> argv = {const_cast<char*>(prog.c_str()), const_cast<char*>(commandLine.c_str()), nullptr};
  pid_t pid;
  return posix_spawn(&pid, prog.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
}

bool stderrIsTerminal() { return isatty(2) != 0; }

void exitNow(int code) { _exit(code); }

void exitNormally(int code) { std::exit(code); }

}  // namespace platform
