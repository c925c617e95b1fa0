#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

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

bool seekFile(std::FILE* file, uint64_t offset) {
  return offset <= static_cast<uint64_t>(INT64_MAX) && fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

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

namespace {

// Windows opens no directory as a file; neither do we. The lock stands in
// for Windows' share modes: exclusive for share mode 0, shared for sharing
// with other readers.
// Returns the descriptor, or -1.
int openLockedRead(const std::string& path, int lock) {
  int fd = ::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flock(fd, lock | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

File File::openExclusiveRead(const std::string& path) {
  int fd = openLockedRead(path, LOCK_EX);
  return fd < 0 ? File() : File(fd);
}

File File::openSharedRead(const std::string& path) {
  int fd = openLockedRead(path, LOCK_SH);
  return fd < 0 ? File() : File(fd);
}

File File::createForWrite(const std::string& path, uint32_t attributes) {
  mode_t mode = (attributes & kAttrReadOnly) ? 0444 : 0666;
  int fd = ::open(nativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return File();
  return File(fd);
}

bool File::size(uint64_t* bytes) const {
  struct stat st;
  if (!valid() || fstat(static_cast<int>(handle_.get()), &st) != 0) return false;
  *bytes = static_cast<uint64_t>(st.st_size);
  return true;
}

bool File::readAt(uint64_t offset, void* data, size_t count, size_t* got) {
  *got = 0;
  if (!valid() || offset > static_cast<uint64_t>(INT64_MAX)) return false;
  for (;;) {
    ssize_t n = ::pread(static_cast<int>(handle_.get()), data, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    *got = static_cast<size_t>(n);
    return true;
  }
}

bool File::write(const void* data, size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t n = ::write(static_cast<int>(handle_.get()), p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool File::flush() { return valid() && fsync(static_cast<int>(handle_.get())) == 0; }

bool File::setTimes(FileTime /*creation*/, FileTime access, FileTime write) {
  timespec ts[2] = {toTimespec(access), toTimespec(write)};
  return valid() && futimens(static_cast<int>(handle_.get()), ts) == 0;
}

bool SystemHandleTraits::close(intptr_t h) { return ::close(static_cast<int>(h)) == 0; }

void MappedView::unmap() { munmap(data_, size_); }

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

MappedView MappedView::mapWritable(const File& file, uint64_t size) {
  MappedView v;
  if (!file.valid() || size == 0 || size > SIZE_MAX) return v;
  void* p = mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED,
                 static_cast<int>(file.handle()), 0);
  if (p == MAP_FAILED) return v;
  v.data_ = p;
  v.size_ = static_cast<size_t>(size);
  return v;
}

MappedOutputFile MappedOutputFile::create(const std::string& path, uint64_t size, std::string* error) {
  MappedOutputFile out;
  std::string p = nativePath(path);
  if (size == 0 || size > SIZE_MAX || static_cast<uint64_t>(static_cast<off_t>(size)) != size) {
    *error = "cannot create " + p + ": " + std::to_string(size) + " bytes cannot be mapped";
    return out;
  }
  int fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = "cannot create " + p + ": " + errnoText();
    return out;
  }
  out.file_ = File(fd);
  // The blocks must exist before the mapping is written: a write to a page
  // the disk has no room for would end the process (SIGBUS).
  int rc = posix_fallocate(fd, 0, static_cast<off_t>(size));
  if (rc != 0) {
    *error = "cannot make room for " + std::to_string(size) + " bytes in " + p + ": " + std::strerror(rc);
    return out.abandon(path);
  }
  out.view_ = MappedView::mapWritable(out.file_, size);
  if (!out.view_.valid()) {
    *error = "cannot map " + p + ": " + errnoText();
    return out.abandon(path);
  }
  madvise(out.view_.data_, out.view_.size_, MADV_SEQUENTIAL);
  return out;
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

// The file's mode never stops unlink (the directory's does), so there is
// nothing to clear first.
bool removeFile(const std::string& path, std::string* error) {
  std::string p = nativePath(path);
  if (unlink(p.c_str()) == 0 || errno == ENOENT) return true;
  if (error) *error = "cannot delete " + p + ": " + errnoText();
  return false;
}

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

bool makeDirectories(const std::string& path, std::string* error) {
  std::string p = nativePath(path);
  if (p.empty()) return true;
  struct stat st;
  if (stat(p.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    *error = "cannot create directory " + p + ": a file of that name is in the way";
    return false;
  }
  size_t slash = p.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !makeDirectories(p.substr(0, slash), error)) return false;
  if (mkdir(p.c_str(), 0777) != 0 && errno != EEXIST) {
    *error = "cannot create directory " + p + ": " + errnoText();
    return false;
  }
  return true;
}

bool createPrivateFile(const std::string& path, const std::string& bytes, std::string* error) {
  std::string p = nativePath(path);
  int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = errno == EEXIST ? p + " exists already; it is left as it is" : "cannot create " + p + ": " + errnoText();
    return false;
  }
  bool ok = fchmod(fd, 0600) == 0;  // whatever the umask
  for (size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  if (!ok) *error = "cannot write " + p + ": " + errnoText();
  if (::close(fd) != 0 && ok) {
    *error = "cannot write " + p + ": " + errnoText();
    ok = false;
  }
  if (!ok) unlink(p.c_str());
  return ok;
}

bool removeEmptyDirectory(const std::string& path) { return rmdir(nativePath(path).c_str()) == 0; }

bool replaceFile(const std::string& from, const std::string& to, std::string* error) {
  std::string src = nativePath(from), dst = nativePath(to);
  if (rename(src.c_str(), dst.c_str()) != 0) {
    *error = "cannot move " + src + " to " + dst + ": " + errnoText();
    return false;
  }
  return true;
}

bool hardLink(const std::string& from, const std::string& to, std::string* error) {
  std::string src = nativePath(from), dst = nativePath(to);
  if (::link(src.c_str(), dst.c_str()) != 0) {
    *error = "cannot link " + src + " to " + dst + ": " + errnoText();
    return false;
  }
  return true;
}

namespace {

bool fsyncPath(const std::string& p, int flags, std::string* error) {
  int fd = ::open(p.c_str(), flags | O_CLOEXEC);
  bool ok = fd >= 0 && fsync(fd) == 0;
  if (!ok) *error = "cannot flush " + p + " to the disk: " + errnoText();
  if (fd >= 0) ::close(fd);
  return ok;
}

}  // namespace

bool flushFile(const std::string& path, std::string* error) { return fsyncPath(nativePath(path), O_RDONLY, error); }

bool moveDurably(const std::string& from, const std::string& to, std::string* error) {
  if (!replaceFile(from, to, error)) return false;
  std::string dst = nativePath(to);
  size_t slash = dst.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : dst.substr(0, slash);
  return fsyncPath(dir, O_RDONLY | O_DIRECTORY, error);
}

PathInfo pathInfo(const std::string& path) {
  PathInfo info;
  struct stat st;
  if (stat(nativePath(path).c_str(), &st) != 0) return info;
  info.kind = S_ISREG(st.st_mode) ? PathKind::File : S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::Other;
  info.size = static_cast<uint64_t>(st.st_size);
  info.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return info;
}

namespace {

FileIdentity identityOf(const struct stat& st) {
  FileIdentity id;
  id.size = static_cast<uint64_t>(st.st_size);
  id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.index = static_cast<uint64_t>(st.st_ino);
  return id;
}

}  // namespace

bool fileIdentity(const std::string& path, FileIdentity* out) {
  struct stat st;
  if (path.empty() || stat(nativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *out = identityOf(st);
  return true;
}

bool listIdentities(const std::string& dir, std::map<std::string, FileIdentity>* out) {
  DIR* d = opendir(nativePath(dir).c_str());
  if (!d) return false;
  while (dirent* e = readdir(d)) {
    struct stat st;
    if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    (*out)[e->d_name] = identityOf(st);
  }
  closedir(d);
  return true;
}

std::string absolutePath(const std::string& path) {
  std::string abs = nativePath(path);
  if (abs.empty() || abs[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) abs = std::string(cwd) + "/" + abs;
  }
  // Resolve the longest existing prefix, keep the rest as written.
  std::string head = abs, tail;
  for (;;) {
    char* real = realpath(head.c_str(), nullptr);
    if (real) {
      std::string r = real;
      std::free(real);
      abs = tail.empty() ? r : (r == "/" ? r + tail : r + "/" + tail);
      break;
    }
    size_t slash = head.find_last_of('/');
    if (slash == std::string::npos || slash == 0) break;
    std::string part = head.substr(slash + 1);
    tail = tail.empty() ? part : part + "/" + tail;
    head.erase(slash);
  }
  // Drop "." and ".." left in the part that does not exist yet.
  std::vector<std::string> parts;
  size_t start = 1;
  while (start <= abs.size()) {
    size_t slash = abs.find('/', start);
    std::string part = abs.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

std::string errnoText() { return std::strerror(errno); }

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
