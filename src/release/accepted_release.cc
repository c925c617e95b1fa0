#include "release/accepted_release.h"

#include <cstdint>

#include "platform/fs.h"

namespace release {

AcceptedRelease readAcceptedRelease(const std::string& path) {
  AcceptedRelease r;
  // Opened as other readers open it: a process that holds it exclusively
  // (Windows' share modes, a POSIX lock) makes it unreadable for the moment.
  platform::File f = platform::File::openSharedRead(path);
  if (!f.valid()) {
    if (platform::findPath(path)) r.state = AcceptedRelease::State::Unreadable;
    return r;
  }
  uint64_t size = 0;
  r.state = AcceptedRelease::State::Unreadable;
  if (!f.size(&size)) return r;
  r.state = AcceptedRelease::State::Damaged;
  // 1 to 19 digits, no leading zero, then LF and nothing more.
  if (size < 2 || size > 20) return r;
  platform::MappedView view = platform::MappedView::map(f, size);
  if (!view.valid()) {
    r.state = AcceptedRelease::State::Unreadable;
    return r;
  }
  const uint8_t* buf = view.data();
  size_t got = view.size();
  if (buf[got - 1] != '\n' || buf[0] == '0') return r;
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
