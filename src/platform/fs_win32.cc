#include <windows.h>

#include "platform/fs.h"

namespace platform {
namespace {

HANDLE asHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

FILETIME toFileTime(FileTime t) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}

}  // namespace

std::string nativePath(const std::string& path) { return path; }

bool findPath(const std::string& path) {
  if (path.empty() || path.find_first_of("*?") != std::string::npos) return false;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(path.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
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

File File::createForWrite(const std::string& path, uint32_t attributes) {
  DWORD attrs = attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
  if (attrs == 0) attrs = FILE_ATTRIBUTE_NORMAL;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attrs, nullptr);
  if (h == INVALID_HANDLE_VALUE) return File();
  return File(reinterpret_cast<intptr_t>(h));
}

bool File::size(uint64_t* bytes) const {
  LARGE_INTEGER li;
  if (!valid() || !GetFileSizeEx(asHandle(handle_), &li)) return false;
  *bytes = static_cast<uint64_t>(li.QuadPart);
  return true;
}

bool File::write(const void* data, size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!WriteFile(asHandle(handle_), p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    count -= written;
  }
  return true;
}

bool File::setTimes(FileTime creation, FileTime access, FileTime write) {
  if (!valid()) return false;
  FILETIME c = toFileTime(creation), a = toFileTime(access), w = toFileTime(write);
  return SetFileTime(asHandle(handle_), creation ? &c : nullptr, access ? &a : nullptr, write ? &w : nullptr) != 0;
}

bool File::close() {
  if (!valid()) return true;
  BOOL ok = CloseHandle(asHandle(handle_));
  handle_ = -1;
  return ok != 0;
}

MappedView::~MappedView() { reset(); }

MappedView::MappedView(MappedView&& other) noexcept
    : data_(other.data_), size_(other.size_), mapping_(other.mapping_) {
  other.data_ = nullptr;
  other.size_ = 0;
  other.mapping_ = 0;
}

MappedView& MappedView::operator=(MappedView&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = other.data_;
    size_ = other.size_;
    mapping_ = other.mapping_;
    other.data_ = nullptr;
    other.size_ = 0;
    other.mapping_ = 0;
  }
  return *this;
}

void MappedView::reset() {
  if (data_) UnmapViewOfFile(data_);
  if (mapping_) CloseHandle(asHandle(mapping_));
  data_ = nullptr;
  size_ = 0;
  mapping_ = 0;
}

MappedView MappedView::map(const File& file, uint64_t size) {
  MappedView v;
  if (!file.valid() || size == 0 || size > SIZE_MAX) return v;
  HANDLE m = CreateFileMappingA(asHandle(file.handle()), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!m) return v;
  void* p = MapViewOfFile(m, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size));
  if (!p) {
    CloseHandle(m);
    return v;
  }
  v.data_ = p;
  v.size_ = static_cast<size_t>(size);
  v.mapping_ = reinterpret_cast<intptr_t>(m);
  return v;
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

bool setNormalAttributes(const std::string& path) {
  return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

bool setAttributes(const std::string& path, uint32_t attributes) {
  DWORD a = attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
  return SetFileAttributesA(path.c_str(), a ? a : FILE_ATTRIBUTE_NORMAL) != 0;
}

bool createDirectory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

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
