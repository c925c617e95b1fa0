#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <utility>

#include "platform/fs.h"
#include "platform/tree.h"

namespace platform {
namespace {

struct DirTraits {
  using Type = DIR*;
  static DIR* none() { return nullptr; }
  static bool close(DIR* d) { return closedir(d) == 0; }
};

bool walk(const std::string& dir, const std::string& prefix, std::set<std::pair<dev_t, ino_t>>* active,
          std::vector<ListedFile>* out, std::string* error) {
  ScopedHandle<DirTraits> d(opendir(dir.c_str()));
  if (!d.valid()) {
    *error = "cannot read directory " + dir + ": " + errnoText();
    return false;
  }
  for (;;) {
    errno = 0;
    struct dirent* e = readdir(d.get());
    if (!e) {
      if (errno != 0) {
        *error = "cannot read directory " + dir + ": " + errnoText();
        return false;
      }
      return true;
    }
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    // Built here, never through nativePath: a "\" in a name stays a letter.
    std::string path = dir + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      *error = "cannot read " + path + ": " + errnoText();
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
      int64_t mtime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
      out->push_back({prefix + name, path, static_cast<uint64_t>(st.st_size), mtime});
    } else {
      *error = path + " is not a regular file or directory";
      return false;
    }
  }
}

}  // namespace

bool listFiles(const std::string& root, std::vector<ListedFile>* out, std::string* error) {
  std::string dir = nativePath(root);
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = root + " is not a directory";
    return false;
  }
  std::set<std::pair<dev_t, ino_t>> active = {{st.st_dev, st.st_ino}};
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return walk(dir, "", &active, out, error);
}

void flushFileSystem(const std::string& dir) {
  SystemHandle fd(open(nativePath(dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return;
#ifdef __linux__
  syncfs(static_cast<int>(fd.get()));
#else
  sync();
#endif
}

bool LockFile::acquire(const std::string& path, bool* heldElsewhere, std::string* error) {
  std::string p = nativePath(path);
  *heldElsewhere = false;
  // The holder deletes the file before it lets go: a lock taken on a file
  // that is no longer the one at path locks nothing.
  for (int attempt = 0; attempt < 100; ++attempt) {
    SystemHandle fd(open(p.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!fd.valid()) {
      *error = "cannot create " + p + ": " + errnoText();
      return false;
    }
    if (flock(static_cast<int>(fd.get()), LOCK_EX | LOCK_NB) != 0) {
      *heldElsewhere = errno == EWOULDBLOCK;
      *error = "cannot lock " + p + ": " + errnoText();
      return false;
    }
    struct stat held, named;
    if (fstat(static_cast<int>(fd.get()), &held) == 0 && stat(p.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      handle_ = std::move(fd);
      path_ = p;
      return true;
    }
  }
  *heldElsewhere = true;
  *error = "cannot lock " + p + ": it is deleted and made again all the time";
  return false;
}

LockFile::~LockFile() {
  if (handle_.valid()) unlink(path_.c_str());
}

}  // namespace platform
