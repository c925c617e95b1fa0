#include "release/accepted_release.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/fs.h"

namespace release {

AcceptedRelease readAcceptedRelease(const std::string& path) {
  AcceptedRelease r;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(platform::nativePath(path).c_str(), "rb"),
                                                   std::fclose);
  if (!f && errno == ENOENT) return r;
  r.state = AcceptedRelease::State::Unreadable;
  if (!f) return r;
  char buf[32];
  size_t got = std::fread(buf, 1, sizeof buf, f.get());
  if (std::ferror(f.get())) return r;
  r.state = AcceptedRelease::State::Damaged;
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
  return platform::writeFileReplacing(path, std::to_string(number) + "\n", error);
}

}  // namespace release
