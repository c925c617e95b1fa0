// Narrow (ANSI code page) file functions, as the launcher uses: a name
// published from here reaches the player's machine as the same bytes.
#include "platform/fs.h"
#include "platform/tree.h"
#include "platform/win32.h"

namespace platform {
namespace {

// Symbolic links and junctions are followed; this bounds a loop of them.
constexpr int kMaxDepth = 128;

bool walk(const std::string& dir, const std::string& prefix, int depth, std::vector<ListedFile>* out,
          std::string* error) {
  if (depth > kMaxDepth) {
    *error = "directories nested too deeply (a loop of links?) at " + dir;
    return false;
  }
  WIN32_FIND_DATAA fd;
  ScopedFind search(FindFirstFileA((dir + "\\*").c_str(), &fd));
  if (!search.valid()) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return true;
    *error = "cannot read directory " + dir + ": " + win32ErrorText(code);
    return false;
  }
  do {
    std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // The link's own entry says nothing about what it leads to.
      PathInfo target = pathInfo(path);
      if (target.kind == PathKind::Missing) {
        *error = "cannot follow link " + path + ": " + win32ErrorText(GetLastError());
        return false;
      }
      if (target.kind == PathKind::Directory) {
        if (!walk(path, prefix + name + "/", depth + 1, out, error)) return false;
      } else {
        out->push_back({prefix + name, path, target.size, target.mtimeNs});
      }
    } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!walk(path, prefix + name + "/", depth + 1, out, error)) return false;
    } else {
      uint64_t size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
      int64_t t = (static_cast<int64_t>(fd.ftLastWriteTime.dwHighDateTime) << 32) | fd.ftLastWriteTime.dwLowDateTime;
      out->push_back({prefix + name, path, size, (t - 116444736000000000LL) * 100});
    }
  } while (FindNextFileA(search.get(), &fd));
  if (GetLastError() != ERROR_NO_MORE_FILES) {
    *error = "cannot read directory " + dir + ": " + win32ErrorText(GetLastError());
    return false;
  }
  return true;
}

}  // namespace

bool listFiles(const std::string& root, std::vector<ListedFile>* out, std::string* error) {
  if (pathInfo(root).kind != PathKind::Directory) {
    *error = root + " is not a directory";
    return false;
  }
  std::string dir = root;
  while (dir.size() > 3 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
  return walk(dir, "", 0, out, error);
}

void flushFileSystem(const std::string&) {
  // Every replaceFile is written through; flushing a whole volume would need
  // administrator rights.
}

LockFile::~LockFile() = default;  // the handle deletes the file

bool LockFile::acquire(const std::string& path, bool* heldElsewhere, std::string* error) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    *heldElsewhere = code == ERROR_SHARING_VIOLATION;
    *error = "cannot lock " + path + ": " + win32ErrorText(code);
    return false;
  }
  *heldElsewhere = false;
  handle_.reset(reinterpret_cast<intptr_t>(h));
  return true;
}

}  // namespace platform
