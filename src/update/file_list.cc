#include "update/file_list.h"

#include "platform/fs.h"
#include "transfer/content_length.h"
#include "transfer/progress.h"
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

int64_t parseListSize(const std::string& field) {
  // The same lenient decimal as the Content-Length header; a NUL ends the
  // digits like any other byte that is not one.
  return parseContentLength(field.c_str());
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

int64_t sumDownloadSizes(const std::vector<FileListEntry>& entries) {
  int64_t total = 0;
  for (const FileListEntry& e : entries)
    if (e.needsDownload) total = saturatingAdd(total, e.size);
  return total;
}

}  // namespace tvl
