#include "update/file_list.h"

#include <limits>

#include "platform/fs.h"
#include "update/updater.h"

namespace tvl {


std::vector<std::string> splitFields(const std::string& line, const std::string& delimiters) {
  std::vector<std::string> fields;
  size_t start = line.find_first_not_of(delimiters);
  while (start != std::string::npos) {
    size_t end = line.find_first_of(delimiters, start);
    fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = line.find_first_not_of(delimiters, end);
  }
  return fields;
}

int32_t parseListSize(const std::string& field) {
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  size_t i = 0;
  // The C locale's white space; TAB, CR and LF never reach a field.
  while (i < field.size() && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  int64_t value = 0;  // magnitude, stops growing once past the range
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    if (value <= kMax + 1) value = value * 10 + (field[i] - '0');
  }
  if (negative) return static_cast<int32_t>(-value < kMin ? kMin : -value);
  return static_cast<int32_t>(value > kMax ? kMax : value);
}

void appendFileListEntries(const char* data, size_t size, const ServerLocation& source, const std::string& directory,
                           bool packed, std::vector<FileListEntry>& entries) {
  std::string line;  // reused from line to line
  auto endLine = [&]() {
    std::vector<std::string> fields = splitFields(line, "\t");
    if (fields.size() == 5) {
      FileListEntry e;
      e.name = std::move(fields[0]);
      e.size = parseListSize(fields[3]);
      e.digest = std::move(fields[4]);
      e.source = &source;
      e.directory = directory;
      e.packed = packed;
      entries.push_back(std::move(e));
    }
    line.clear();
  };
  for (size_t i = 0; i < size; ++i) {
    char c = data[i];
    if (c == '\r' || c == '\n') {
      endLine();
      continue;
    }
    line += c;
    if (i + 1 == size) endLine();
  }
}

void loadFileList(Updater& updater, const ServerLocation& source, const std::string& path,
                  const std::string& directory, bool packed) {
  platform::File file = platform::File::openExclusiveRead(path);
  uint64_t size = 0;
  if (!file.valid() || !file.size(&size) || size == 0) return;
  platform::MappedView view = platform::MappedView::map(file, size);
  if (!view.valid()) return;
  appendFileListEntries(reinterpret_cast<const char*>(view.data()), view.size(), source, directory, packed,
                        updater.entries);
}

int32_t sumDownloadSizes(const std::vector<FileListEntry>& entries) {
  // Each term is 32-bit: no list in memory is long enough to overflow 64 bits.
  int64_t total = 0;
  for (const FileListEntry& e : entries)
    if (e.needsDownload) total += e.size;
  if (total > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (total < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(total);
}

}  // namespace tvl
