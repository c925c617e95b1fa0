// The parts of MappedView that are the same on every platform: ownership of
// the view and of the mapping. Mapping and unmapping live in the platform
// files.
#include <utility>

#include "platform/fs.h"

namespace platform {

MappedView::~MappedView() { reset(); }

MappedView::MappedView(MappedView&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapping_(std::move(other.mapping_)) {}

MappedView& MappedView::operator=(MappedView&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapping_ = std::move(other.mapping_);
  }
  return *this;
}

void MappedView::reset() {
  if (data_) unmap();
  mapping_.reset();
  data_ = nullptr;
  size_ = 0;
}

bool MappedOutputFile::close() {
  view_.reset();
  return file_.close();
}

MappedOutputFile MappedOutputFile::abandon(const std::string& path) {
  close();
  removeFile(path);
  return MappedOutputFile();
}

bool writeFileReplacing(const std::string& path, const std::string& bytes, std::string* error) {
  std::string temp = path + ".tmp";
  File f = File::createForWrite(temp, 0);
  if (!f.valid()) {
    *error = "cannot create " + temp;
    return false;
  }
  bool written = f.write(bytes.data(), bytes.size()) && f.flush();
  written = f.close() && written;
  if (!written) *error = "cannot write " + temp;
  if (!written || !moveDurably(temp, path, error)) {
    removeFile(temp);
    return false;
  }
  return true;
}

}  // namespace platform
