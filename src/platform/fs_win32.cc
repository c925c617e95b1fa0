#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/fs.h"
#include "platform/win32.h"

namespace platform {
namespace {

HANDLE asHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

FILETIME toFileTime(FileTime t) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}

int64_t fileTimeNs(const FILETIME& ft) {
  int64_t t = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return (t - 116444736000000000LL) * 100;
}

// Attributes of the file a path finally names (links followed).
bool followedInfo(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  SystemHandle h(reinterpret_cast<intptr_t>(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
  return h.valid() && GetFileInformationByHandle(asHandle(h.get()), info) != 0;
}

// A security descriptor whose protected access list grants the current user
// alone full access; the buffers hold what it points to.
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

std::string win32ErrorText(DWORD code) {
  char buf[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                           sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r' || buf[n - 1] == ' ' || buf[n - 1] == '.')) --n;
  if (n == 0) return "error " + std::to_string(code);
  return std::string(buf, n);
}

bool SystemHandleTraits::close(intptr_t h) { return CloseHandle(asHandle(h)) != 0; }

std::string nativePath(const std::string& path) { return path; }

bool seekFile(std::FILE* file, uint64_t offset) {
  return offset <= static_cast<uint64_t>(INT64_MAX) && _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool findPath(const std::string& path) {
  if (path.empty() || path.find_first_of("*?") != std::string::npos) return false;
  WIN32_FIND_DATAA fd;
  return ScopedFind(FindFirstFileA(path.c_str(), &fd)).valid();
}

bool getAttributes(const std::string& path, uint32_t* attributes) {
  DWORD a = GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  *attributes = a;
  return true;
}

File File::openExclusiveRead(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return File();
  return File(reinterpret_cast<intptr_t>(h));
}

File File::openSharedRead(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return File();
  return File(reinterpret_cast<intptr_t>(h));
}

File File::createForWrite(const std::string& path, uint32_t attributes) {
  DWORD attrs = attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
  if (attrs == 0) attrs = FILE_ATTRIBUTE_NORMAL;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attrs, nullptr);
  if (h == INVALID_HANDLE_VALUE) return File();
  return File(reinterpret_cast<intptr_t>(h));
}

bool File::size(uint64_t* bytes) const {
  LARGE_INTEGER li;
  if (!valid() || !GetFileSizeEx(asHandle(handle_.get()), &li)) return false;
  *bytes = static_cast<uint64_t>(li.QuadPart);
  return true;
}

bool File::flush() { return valid() && FlushFileBuffers(asHandle(handle_.get())) != 0; }

bool File::readAt(uint64_t offset, void* data, size_t count, size_t* got) {
  *got = 0;
  if (!valid()) return false;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
  DWORD n = 0;
  if (!ReadFile(asHandle(handle_.get()), data, chunk, &n, &at)) return GetLastError() == ERROR_HANDLE_EOF;
  *got = n;
  return true;
}

bool File::write(const void* data, size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!WriteFile(asHandle(handle_.get()), p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    count -= written;
  }
  return true;
}

bool File::setTimes(FileTime creation, FileTime access, FileTime write) {
  if (!valid()) return false;
  FILETIME c = toFileTime(creation), a = toFileTime(access), w = toFileTime(write);
  return SetFileTime(asHandle(handle_.get()), creation ? &c : nullptr, access ? &a : nullptr, write ? &w : nullptr) != 0;
}

void MappedView::unmap() { UnmapViewOfFile(data_); }

MappedView MappedView::map(const File& file, uint64_t size) {
  MappedView v;
  if (!file.valid() || size == 0 || size > SIZE_MAX) return v;
  HANDLE m = CreateFileMappingA(asHandle(file.handle()), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!m) return v;
  SystemHandle mapping(reinterpret_cast<intptr_t>(m));
  void* p = MapViewOfFile(m, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size));
  if (!p) return v;
  v.data_ = p;
  v.size_ = static_cast<size_t>(size);
  v.mapping_ = std::move(mapping);
  return v;
}

MappedView MappedView::mapWritable(const File& file, uint64_t size) {
  MappedView v;
  if (!file.valid() || size == 0 || size > SIZE_MAX) return v;
  HANDLE m = CreateFileMappingA(asHandle(file.handle()), nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                                static_cast<DWORD>(size), nullptr);
  if (!m) return v;
  SystemHandle mapping(reinterpret_cast<intptr_t>(m));
  void* p = MapViewOfFile(m, FILE_MAP_WRITE, 0, 0, static_cast<SIZE_T>(size));
  if (!p) return v;
  v.data_ = p;
  v.size_ = static_cast<size_t>(size);
  v.mapping_ = std::move(mapping);
  return v;
}

MappedOutputFile MappedOutputFile::create(const std::string& path, uint64_t size, std::string* error) {
  MappedOutputFile out;
  if (size == 0 || size > SIZE_MAX || size > static_cast<uint64_t>(INT64_MAX)) {
    *error = "cannot create " + path + ": " + std::to_string(size) + " bytes cannot be mapped";
    return out;
  }
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = "cannot create " + path + ": " + win32ErrorText(GetLastError());
    return out;
  }
  out.file_ = File(reinterpret_cast<intptr_t>(h));
  // Setting the end allocates the clusters: a full disk fails here rather
  // than as an in-page error while the mapping is written.
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(h, end, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) {
    *error = "cannot make room for " + std::to_string(size) + " bytes in " + path + ": " +
             win32ErrorText(GetLastError());
    return out.abandon(path);
  }
  out.view_ = MappedView::mapWritable(out.file_, size);
  if (!out.view_.valid()) {
    *error = "cannot map " + path + ": " + win32ErrorText(GetLastError());
    return out.abandon(path);
  }
  return out;
}

bool getFileTimes(const std::string& path, FileTime* creation, FileTime* access, FileTime* write) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d)) return false;
  auto get = [](const FILETIME& ft) { return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; };
  *creation = get(d.ftCreationTime);
  *access = get(d.ftLastAccessTime);
  *write = get(d.ftLastWriteTime);
  return true;
}

bool moveReplace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool deleteFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool removeFile(const std::string& path, std::string* error) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileA(path.c_str())) return true;
  DWORD code = GetLastError();
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
  if (error) *error = "cannot delete " + path + ": " + win32ErrorText(code);
  return false;
}

bool setNormalAttributes(const std::string& path) {
  return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

bool setAttributes(const std::string& path, uint32_t attributes) {
  DWORD a = attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
  return SetFileAttributesA(path.c_str(), a ? a : FILE_ATTRIBUTE_NORMAL) != 0;
}

bool createDirectory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

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

bool removeEmptyDirectory(const std::string& path) { return RemoveDirectoryA(path.c_str()) != 0; }

bool replaceFile(const std::string& from, const std::string& to, std::string* error) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *error = "cannot move " + from + " to " + to + ": " + win32ErrorText(GetLastError());
    return false;
  }
  return true;
}

bool hardLink(const std::string& from, const std::string& to, std::string* error) {
  if (!CreateHardLinkA(to.c_str(), from.c_str(), nullptr)) {
    *error = "cannot link " + from + " to " + to + ": " + win32ErrorText(GetLastError());
    return false;
  }
  return true;
}

bool moveDurably(const std::string& from, const std::string& to, std::string* error) {
  return replaceFile(from, to, error);  // written through
}

bool flushFile(const std::string& path, std::string* error) {
  // Flushing needs write access; sharing everything keeps readers undisturbed.
  SystemHandle h(reinterpret_cast<intptr_t>(CreateFileA(path.c_str(), GENERIC_WRITE,
                                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!h.valid() || !FlushFileBuffers(asHandle(h.get()))) {
    *error = "cannot flush " + path + " to the disk: " + win32ErrorText(GetLastError());
    return false;
  }
  return true;
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

bool fileIdentity(const std::string& path, FileIdentity* out) {
  BY_HANDLE_FILE_INFORMATION h;
  // Opened for its attributes only: this never conflicts with a process
  // that holds the file exclusively.
  if (path.empty() || !followedInfo(path, &h) || (h.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  out->size = (static_cast<uint64_t>(h.nFileSizeHigh) << 32) | h.nFileSizeLow;
  out->mtimeNs = fileTimeNs(h.ftLastWriteTime);
  out->volume = h.dwVolumeSerialNumber;
  out->index = (static_cast<uint64_t>(h.nFileIndexHigh) << 32) | h.nFileIndexLow;
  return true;
}

bool listIdentities(const std::string& dir, std::map<std::string, FileIdentity>* out) {
  // Windows Vista and later; older systems check file by file.
  using GetInfoEx = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  static const GetInfoEx getInfoEx = reinterpret_cast<GetInfoEx>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFileInformationByHandleEx")));
  if (!getInfoEx) return false;
  SystemHandle h(reinterpret_cast<intptr_t>(CreateFileA(dir.c_str(), FILE_LIST_DIRECTORY,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
  BY_HANDLE_FILE_INFORMATION self;
  if (!h.valid() || !GetFileInformationByHandle(asHandle(h.get()), &self)) return false;
  std::vector<uint64_t> buf(64 * 1024 / sizeof(uint64_t));  // 8-byte aligned records
  for (;;) {
    if (!getInfoEx(asHandle(h.get()), FileIdBothDirectoryInfo, buf.data(), static_cast<DWORD>(buf.size() * 8)))
      return GetLastError() == ERROR_NO_MORE_FILES;
    const char* at = reinterpret_cast<const char*>(buf.data());
    for (;;) {
      const auto* e = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      if (!(e->FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        int wide = static_cast<int>(e->FileNameLength / sizeof(WCHAR));
        char name[MAX_PATH * 2];
        BOOL lossy = FALSE;
        int n = WideCharToMultiByte(CP_ACP, 0, e->FileName, wide, name, sizeof name, nullptr, &lossy);
        if (n > 0 && !lossy) {  // a name the ANSI calls cannot spell is looked up file by file
          FILETIME ft;
          ft.dwLowDateTime = e->LastWriteTime.LowPart;
          ft.dwHighDateTime = static_cast<DWORD>(e->LastWriteTime.HighPart);
          FileIdentity& id = (*out)[std::string(name, n)];
          id.size = static_cast<uint64_t>(e->EndOfFile.QuadPart);
          id.mtimeNs = fileTimeNs(ft);
          id.volume = self.dwVolumeSerialNumber;
          id.index = static_cast<uint64_t>(e->FileId.QuadPart);
        }
      }
      if (e->NextEntryOffset == 0) break;
      at += e->NextEntryOffset;
    }
  }
}

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

std::string errnoText() { return std::strerror(errno); }

bool localTimeToFileTime(int year, int month, int day, int hour, int minute, int second, FileTime* out) {
  if (year < 1601 || year > 30827) return false;
  SYSTEMTIME st = {};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(hour);
  st.wMinute = static_cast<WORD>(minute);
  st.wSecond = static_cast<WORD>(second);
  FILETIME local, utc;
  if (!SystemTimeToFileTime(&st, &local) || !LocalFileTimeToFileTime(&local, &utc)) return false;
  *out = (static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
  return true;
}

}  // namespace platform
