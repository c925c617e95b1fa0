// Narrow (ANSI code page) file functions, as the launcher uses: a name
// published from here reaches the player's machine as the same bytes.
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "publish/fs.h"

namespace publish {
namespace {

// Symbolic links and junctions are followed; this bounds a loop of them.
constexpr int kMaxDepth = 128;

int64_t fileTimeNs(const FILETIME& ft) {
  int64_t t = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return (t - 116444736000000000LL) * 100;
}

std::string win32ErrorText(DWORD code) {
  char buf[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                           sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r' || buf[n - 1] == ' ' || buf[n - 1] == '.')) --n;
  if (n == 0) return "error " + std::to_string(code);
  return std::string(buf, n);
}

// Attributes of the file a path finally names (links followed).
bool followedInfo(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileInformationByHandle(h, info) != 0;
  CloseHandle(h);
  return ok;
}

bool walk(const std::string& dir, const std::string& prefix, int depth, std::vector<SourceFile>* out,
          std::string* error) {
  if (depth > kMaxDepth) {
    *error = "directories nested too deeply (a loop of links?) at " + dir;
    return false;
  }
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return true;
    *error = "cannot read directory " + dir + ": " + win32ErrorText(code);
    return false;
  }
  bool ok = true;
  do {
    std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    DWORD attrs = fd.dwFileAttributes;
    uint64_t size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    int64_t mtime = fileTimeNs(fd.ftLastWriteTime);
    if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) {
      BY_HANDLE_FILE_INFORMATION info;
      if (!followedInfo(path, &info)) {
        *error = "cannot follow link " + path + ": " + win32ErrorText(GetLastError());
        ok = false;
        break;
      }
      attrs = info.dwFileAttributes;
      size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
      mtime = fileTimeNs(info.ftLastWriteTime);
    }
    if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
      if (!walk(path, prefix + name + "/", depth + 1, out, error)) {
        ok = false;
        break;
      }
    } else {
      out->push_back({prefix + name, path, size, mtime});
    }
  } while (FindNextFileA(h, &fd));
  if (ok && GetLastError() != ERROR_NO_MORE_FILES) {
    *error = "cannot read directory " + dir + ": " + win32ErrorText(GetLastError());
    ok = false;
  }
  FindClose(h);
  return ok;
}

// A security descriptor whose protected ACL grants the current user alone
// full access; the buffers hold what it points to.
struct OwnerOnly {
  std::vector<unsigned char> user, acl;
  SECURITY_DESCRIPTOR sd;

  bool make() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user.resize(size);
    bool ok = size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size);
    CloseHandle(token);
    if (!ok) return false;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
    acl.resize(aclSize);
    PACL a = reinterpret_cast<PACL>(acl.data());
    return InitializeAcl(a, aclSize, ACL_REVISION) && AddAccessAllowedAce(a, ACL_REVISION, GENERIC_ALL, sid) &&
           InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&sd, TRUE, a, FALSE) &&
           SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  }
};

}  // namespace

std::string lastErrorText() { return std::strerror(errno); }

bool stderrIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

PathInfo pathInfo(const std::string& path) {
  PathInfo info;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return info;
  uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  int64_t mtime = fileTimeNs(data.ftLastWriteTime);
  DWORD attrs = data.dwFileAttributes;
  if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) {
    BY_HANDLE_FILE_INFORMATION h;
    if (!followedInfo(path, &h)) return info;
    attrs = h.dwFileAttributes;
    size = (static_cast<uint64_t>(h.nFileSizeHigh) << 32) | h.nFileSizeLow;
    mtime = fileTimeNs(h.ftLastWriteTime);
  }
  info.kind = (attrs & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
  info.size = size;
  info.mtimeNs = mtime;
  return info;
}

bool listFiles(const std::string& root, std::vector<SourceFile>* out, std::string* error) {
  if (pathInfo(root).kind != PathKind::Directory) {
    *error = root + " is not a directory";
    return false;
  }
  std::string dir = root;
  while (dir.size() > 3 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
  return walk(dir, "", 0, out, error);
}

bool makeDirectories(const std::string& path, std::string* error) {
  if (path.empty()) return true;
  PathInfo info = pathInfo(path);
  if (info.kind == PathKind::Directory) return true;
  if (info.kind != PathKind::Missing) {
    *error = "cannot create directory " + path + ": a file of that name is in the way";
    return false;
  }
  size_t slash = path.find_last_of("/\\");
  if (slash != std::string::npos && slash > 0 && !(slash == 2 && path[1] == ':') &&
      !makeDirectories(path.substr(0, slash), error))
    return false;
  if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    *error = "cannot create directory " + path + ": " + win32ErrorText(GetLastError());
    return false;
  }
  return true;
}

bool replaceFile(const std::string& from, const std::string& to, std::string* error) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *error = "cannot move " + from + " to " + to + ": " + win32ErrorText(GetLastError());
    return false;
  }
  return true;
}

bool createPrivateFile(const std::string& path, const std::string& bytes, std::string* error) {
  OwnerOnly security;
  if (!security.make()) {
    *error = "cannot make an owner-only access list for " + path + ": " + win32ErrorText(GetLastError());
    return false;
  }
  SECURITY_ATTRIBUTES sa = {sizeof sa, &security.sd, FALSE};
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    *error = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS
                 ? path + " exists already; it is left as it is"
                 : "cannot create " + path + ": " + win32ErrorText(code);
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size() && FlushFileBuffers(h);
  DWORD code = GetLastError();
  CloseHandle(h);
  if (!ok) {
    *error = "cannot write " + path + ": " + win32ErrorText(code);
    DeleteFileA(path.c_str());
  }
  return ok;
}

bool removeFile(const std::string& path, std::string* error) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!DeleteFileA(path.c_str())) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    *error = "cannot delete " + path + ": " + win32ErrorText(code);
    return false;
  }
  return true;
}

bool removeEmptyDirectory(const std::string& path) { return RemoveDirectoryA(path.c_str()) != 0; }

std::string absolutePath(const std::string& path) {
  char buf[MAX_PATH * 4];
  DWORD n = GetFullPathNameA(path.c_str(), sizeof buf, buf, nullptr);
  if (n == 0 || n >= sizeof buf) return path;
  std::string out(buf, n);
  for (char& c : out)
    if (c == '\\') c = '/';
  while (out.size() > 3 && out.back() == '/') out.pop_back();
  return out;
}

void flushFileSystem(const std::string&) {
  // Every move is made with MOVEFILE_WRITE_THROUGH; flushing a whole volume
  // would need administrator rights.
}

OutputLock::~OutputLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool OutputLock::acquire(const std::string& dir, std::string* error) {
  std::string path = dir + "/.publish-lock";
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    *error = code == ERROR_SHARING_VIOLATION ? "another tervalis-publish is writing " + dir
                                             : "cannot lock " + path + ": " + win32ErrorText(code);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

}  // namespace publish
