#include "release/accepted_release.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace release {
namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Narrow paths as the launcher's other file calls take them (ANSI code page
// on Windows). Moves to the platform layer's moveReplace once release formats
// may link it.
bool renameOver(const std::string& from, const std::string& to) {
#ifdef _WIN32
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

AcceptedRelease readAcceptedRelease(const std::string& path) {
  AcceptedRelease r;
  FilePtr f(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!f && errno == ENOENT) return r;
  r.state = AcceptedRelease::State::Damaged;
  if (!f) return r;
  char buf[32];
  size_t got = std::fread(buf, 1, sizeof buf, f.get());
  // 1 to 19 digits, no leading zero, then LF and nothing more.
  if (got < 2 || got > 20 || buf[got - 1] != '\n' || buf[0] == '0') return r;
  uint64_t n = 0;
  for (size_t i = 0; i + 1 < got; ++i) {
    if (buf[i] < '0' || buf[i] > '9') return r;
    n = n * 10 + static_cast<uint64_t>(buf[i] - '0');
  }
  if (n > static_cast<uint64_t>(INT64_MAX)) return r;
  r.state = AcceptedRelease::State::Ok;
  r.number = n;
  return r;
}

bool writeAcceptedRelease(const std::string& path, uint64_t number, std::string* error) {
  if (number == 0 || number > static_cast<uint64_t>(INT64_MAX)) {
    *error = "release number " + std::to_string(number) + " out of range";
    return false;
  }
  std::string temp = path + ".tmp";
  std::string text = std::to_string(number) + "\n";
  FilePtr f(std::fopen(temp.c_str(), "wb"), std::fclose);
  if (!f) {
    *error = "cannot create " + temp + ": " + std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
  ok = std::fclose(f.release()) == 0 && ok;
  if (!ok || !renameOver(temp, path)) {
    *error = "cannot write " + path + (ok ? " (rename failed)" : ": " + std::string(std::strerror(errno)));
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace release
