// Reads back the single-member archives the publisher writes (tests only).
#pragma once

#include <unzip.h>

#include <string>

namespace publish {

struct Member {
  int count = 0;  // members in the archive
  std::string name;
  int method = -1;
  uLong dosDate = 0;
  uLong versionMadeBy = 0;
  uLong externalFa = 0;
  std::string localExtra;
  std::string centralExtra;
  std::string data;
  int closeResult = -1;  // unzCloseCurrentFile: checks the CRC
};

inline Member readArchive(const std::string& path) {
  Member m;
  unzFile uf = unzOpen64(path.c_str());
  if (!uf) return m;
  unz_global_info64 gi;
  unzGetGlobalInfo64(uf, &gi);
  m.count = static_cast<int>(gi.number_entry);
  if (unzGoToFirstFile(uf) == UNZ_OK) {
    unz_file_info64 fi;
    char name[512];
    char extra[256];
    unzGetCurrentFileInfo64(uf, &fi, name, sizeof name, extra, sizeof extra, nullptr, 0);
    m.name = name;
    m.method = static_cast<int>(fi.compression_method);
    m.dosDate = fi.dosDate;
    m.versionMadeBy = fi.version;
    m.externalFa = fi.external_fa;
    m.centralExtra.assign(extra, fi.size_file_extra);
    if (unzOpenCurrentFile(uf) == UNZ_OK) {
      int n = unzGetLocalExtrafield(uf, extra, sizeof extra);
      if (n > 0) m.localExtra.assign(extra, static_cast<size_t>(n));
      char buf[65536];
      int got;
      while ((got = unzReadCurrentFile(uf, buf, sizeof buf)) > 0) m.data.append(buf, static_cast<size_t>(got));
      m.closeResult = unzCloseCurrentFile(uf);
    }
  }
  unzClose(uf);
  return m;
}

}  // namespace publish
