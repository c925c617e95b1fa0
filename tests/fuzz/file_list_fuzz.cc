// The file-list parser over arbitrary bytes: no crash, no undefined
// behaviour, and every entry it makes is one of five real fields.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "update/file_list.h"

using namespace tvl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ServerLocation source{"host", "/path/"};
  const char* text = reinterpret_cast<const char*>(data);
  std::vector<FileListEntry> entries;
  appendFileListEntries(text, size, source, "data/textures/", false, entries);

  size_t lineEnds = 1;
  for (size_t i = 0; i < size; ++i) lineEnds += text[i] == '\r' || text[i] == '\n';
  if (entries.size() > lineEnds) std::abort();
  for (FileListEntry& e : entries) {
    for (const std::string* field : {&e.name, &e.digest})
      if (field->empty() || field->find_first_of("\t\r\n") != std::string::npos) std::abort();
    if (e.source != &source || e.packed) std::abort();
    e.needsDownload = true;
  }
  sumDownloadSizes(entries);

  std::string whole(text, size);
  parseListSize(whole);
  for (const std::string& f : splitFields(whole, "\t "))
    if (f.empty()) std::abort();
  return 0;
}
