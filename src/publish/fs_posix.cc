#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

#include "publish/fs.h"

namespace publish {
namespace {

int64_t mtimeOf(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

struct DirCloser {
  DIR* d;
  ~DirCloser() {
    if (d) closedir(d);
  }
};

bool walk(const std::string& dir, const std::string& prefix, std::set<std::pair<dev_t, ino_t>>* active,
          std::vector<SourceFile>* out, std::string* error) {
  DirCloser d{opendir(dir.c_str())};
  if (!d.d) {
    *error = "cannot read directory " + dir + ": " + lastErrorText();
    return false;
  }
  for (;;) {
    errno = 0;
    struct dirent* e = readdir(d.d);
    if (!e) {
      if (errno != 0) {
        *error = "cannot read directory " + dir + ": " + lastErrorText();
        return false;
      }
      return true;
    }
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      *error = "cannot read " + path + ": " + lastErrorText();
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      auto key = std::make_pair(st.st_dev, st.st_ino);
      if (!active->insert(key).second) {
        *error = "directory loop through symbolic links at " + path;
        return false;
      }
      bool ok = walk(path, prefix + name + "/", active, out, error);
      active->erase(key);
      if (!ok) return false;
    } else if (S_ISREG(st.st_mode)) {
      out->push_back({prefix + name, path, static_cast<uint64_t>(st.st_size), mtimeOf(st)});
    } else {
      *error = path + " is not a regular file or directory";
      return false;
    }
  }
}

}  // namespace

std::string lastErrorText() { return std::strerror(errno); }

bool stderrIsTerminal() { return isatty(2) != 0; }

PathInfo pathInfo(const std::string& path) {
  PathInfo info;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return info;
  info.kind = S_ISREG(st.st_mode) ? PathKind::File : S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::Other;
  info.size = static_cast<uint64_t>(st.st_size);
  info.mtimeNs = mtimeOf(st);
  return info;
}

bool listFiles(const std::string& root, std::vector<SourceFile>* out, std::string* error) {
  struct stat st;
  if (stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = root + " is not a directory";
    return false;
  }
  std::set<std::pair<dev_t, ino_t>> active = {{st.st_dev, st.st_ino}};
  std::string dir = root;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return walk(dir, "", &active, out, error);
}

bool makeDirectories(const std::string& path, std::string* error) {
  if (path.empty()) return true;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    *error = "cannot create directory " + path + ": a file of that name is in the way";
    return false;
  }
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !makeDirectories(path.substr(0, slash), error)) return false;
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    *error = "cannot create directory " + path + ": " + lastErrorText();
    return false;
  }
  return true;
}

bool replaceFile(const std::string& from, const std::string& to, std::string* error) {
  if (rename(from.c_str(), to.c_str()) != 0) {
    *error = "cannot move " + from + " to " + to + ": " + lastErrorText();
    return false;
  }
  return true;
}

bool createPrivateFile(const std::string& path, const std::string& bytes, std::string* error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = errno == EEXIST ? path + " exists already; it is left as it is"
                             : "cannot create " + path + ": " + lastErrorText();
    return false;
  }
  bool ok = fchmod(fd, 0600) == 0;  // whatever the umask
  for (size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  if (!ok) *error = "cannot write " + path + ": " + lastErrorText();
  if (close(fd) != 0 && ok) {
    *error = "cannot write " + path + ": " + lastErrorText();
    ok = false;
  }
  if (!ok) unlink(path.c_str());
  return ok;
}

bool removeFile(const std::string& path, std::string* error) {
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    *error = "cannot delete " + path + ": " + lastErrorText();
    return false;
  }
  return true;
}

bool removeEmptyDirectory(const std::string& path) { return rmdir(path.c_str()) == 0; }

std::string absolutePath(const std::string& path) {
  std::string abs = path;
  if (abs.empty() || abs[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) abs = std::string(cwd) + "/" + path;
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

void flushFileSystem(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
#ifdef __linux__
  syncfs(fd);
#else
  sync();
#endif
  close(fd);
}

OutputLock::~OutputLock() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool OutputLock::acquire(const std::string& dir, std::string* error) {
  std::string path = dir + "/.publish-lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = "cannot create " + path + ": " + lastErrorText();
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *error = errno == EWOULDBLOCK ? "another tervalis-publish is writing " + dir
                                  : "cannot lock " + path + ": " + lastErrorText();
    close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

}  // namespace publish
