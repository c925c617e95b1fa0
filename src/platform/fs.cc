// The parts of File that are the same on every platform: ownership of the
// handle. Opening, I/O and close() live in the platform files.
#include "platform/fs.h"

namespace platform {

File::~File() { close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

bool removeFile(const std::string& path) {
  setNormalAttributes(path);
  deleteFile(path);
  return !findPath(path);
}

}  // namespace platform
