#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/fs.h"

namespace platform {
namespace {

constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;  // 1970-01-01 in 100 ns since 1601

timespec toTimespec(FileTime t) {
  timespec ts;
  if (t == 0) {
    ts.tv_sec = 0;
    ts.tv_nsec = UTIME_OMIT;
    return ts;
  }
  int64_t rel = static_cast<int64_t>(t) - kUnixEpochAsFileTime;
  int64_t sec = rel / 10000000;
  int64_t rest = rel % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --sec;
  }
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}

}  // namespace

std::string nativePath(const std::string& path) {
  std::string out = path;
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

bool findPath(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(nativePath(path).c_str(), &st) == 0;
}

bool getAttributes(const std::string& path, uint32_t* attributes) {
  struct stat st;
  if (path.empty() || stat(nativePath(path).c_str(), &st) != 0) return false;
  uint32_t a = 0;
  if (S_ISDIR(st.st_mode)) a |= kAttrDirectory;
  if (!(st.st_mode & S_IWUSR)) a |= kAttrReadOnly;
  *attributes = a ? a : kAttrNormal;
  return true;
}

File File::openExclusiveRead(const std::string& path) {
  int fd = ::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return File();
  struct stat st;
  // Windows opens no directory as a file; neither do we. The lock stands in
  // for Windows' share mode 0, so two launchers never read a file at once.
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return File();
  }
  return File(fd);
}

File File::createForWrite(const std::string& path, uint32_t attributes) {
  mode_t mode = (attributes & kAttrReadOnly) ? 0444 : 0666;
  int fd = ::open(nativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return File();
  return File(fd);
}

bool File::size(uint64_t* bytes) const {
  struct stat st;
  if (!valid() || fstat(static_cast<int>(handle_), &st) != 0) return false;
  *bytes = static_cast<uint64_t>(st.st_size);
  return true;
}

bool File::write(const void* data, size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t n = ::write(static_cast<int>(handle_), p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool File::setTimes(FileTime /*creation*/, FileTime access, FileTime write) {
  timespec ts[2] = {toTimespec(access), toTimespec(write)};
  return valid() && futimens(static_cast<int>(handle_), ts) == 0;
}

bool File::close() {
  if (!valid()) return true;
  int rc = ::close(static_cast<int>(handle_));
  handle_ = -1;
  return rc == 0;
}

MappedView::~MappedView() { reset(); }

MappedView::MappedView(MappedView&& other) noexcept : data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

MappedView& MappedView::operator=(MappedView&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

void MappedView::reset() {
  if (data_) munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

MappedView MappedView::map(const File& file, uint64_t size) {
  MappedView v;
  if (!file.valid() || size == 0 || size > SIZE_MAX) return v;
  void* p = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, static_cast<int>(file.handle()), 0);
  if (p == MAP_FAILED) return v;
  madvise(p, static_cast<size_t>(size), MADV_SEQUENTIAL | MADV_WILLNEED);
  v.data_ = p;
  v.size_ = static_cast<size_t>(size);
  return v;
}

bool getFileTimes(const std::string& path, FileTime* creation, FileTime* access, FileTime* write) {
  struct stat st;
  if (stat(nativePath(path).c_str(), &st) != 0) return false;
  auto get = [](const timespec& ts) {
    return static_cast<FileTime>(static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100 + kUnixEpochAsFileTime);
  };
  *creation = get(st.st_ctim);
  *access = get(st.st_atim);
  *write = get(st.st_mtim);
  return true;
}

bool moveReplace(const std::string& from, const std::string& to) {
  std::string dst = nativePath(to);
  struct stat st;
  if (stat(dst.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
  return rename(nativePath(from).c_str(), dst.c_str()) == 0;
}

bool deleteFile(const std::string& path) { return unlink(nativePath(path).c_str()) == 0; }

bool setNormalAttributes(const std::string& path) {
  std::string p = nativePath(path);
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode) || (st.st_mode & S_IWUSR)) return true;
  return chmod(p.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool setAttributes(const std::string& path, uint32_t attributes) {
  std::string p = nativePath(path);
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly)
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  else
    mode |= S_IWUSR;
  return chmod(p.c_str(), mode) == 0;
}

bool createDirectory(const std::string& path) { return mkdir(nativePath(path).c_str(), 0777) == 0; }

bool localTimeToFileTime(int year, int month, int day, int hour, int minute, int second, FileTime* out) {
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return false;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  std::tm probe = tm;
  time_t t = mktime(&probe);
  if (t == static_cast<time_t>(-1)) return false;
  if (probe.tm_mday != day || probe.tm_mon != month - 1) return false;  // e.g. 31 April
  *out = static_cast<FileTime>(static_cast<int64_t>(t) * 10000000 + kUnixEpochAsFileTime);
  return true;
}

}  // namespace platform
