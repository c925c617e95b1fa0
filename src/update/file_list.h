// The file-list format of files.txt and clan_icons_list.txt: one entry per
// line of exactly five TAB-separated fields (name, two fields we don't read,
// size, upper-case MD5 digest). Lines end at every CR and every LF.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/connection.h"

namespace tvl {


struct Updater;

struct FileListEntry {
  std::string name;
  int64_t size = 0;
  std::string digest;
  std::string localDigest;
  bool needsDownload = false;
  const ServerLocation* source = nullptr;  // updateSource or iconsSource; lives for the process
  std::string directory;                   // "" or "data/textures/"
  bool packed = false;
};

// The fields of line: maximal runs of bytes not in delimiters, in order.
// Runs of delimiters separate like one; no field is ever empty.
std::vector<std::string> splitFields(const std::string& line, const std::string& delimiters);

// The size field: leading white space, an optional sign, decimal digits up to
// the first other byte; no digits gives 0; values beyond the signed 64-bit
// range are clamped to it.
int64_t parseListSize(const std::string& field);

// Appends one entry per line of exactly five TAB-separated fields of the list
// text [data, data + size) to entries, in file order.
void appendFileListEntries(const char* data, size_t size, const ServerLocation& source, const std::string& directory,
                           bool packed, std::vector<FileListEntry>& entries);

// Reads the list file at path (opened exclusively, mapped read-only) into
// updater.entries. A missing, locked, empty or unmappable file adds nothing.
void loadFileList(Updater& updater, const ServerLocation& source, const std::string& path,
                  const std::string& directory, bool packed);

// The byte total of the entries that need a download, held at the signed
// 64-bit bounds instead of wrapping.
int64_t sumDownloadSizes(const std::vector<FileListEntry>& entries);

}  // namespace tvl
