// The file-list format of files.txt and clan_icons_list.txt: one entry per
// line of exactly five TAB-separated fields (name, two fields we don't read,
// size, upper-case MD5 digest). Lines end at every CR and every LF.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/settings.h"

struct Updater;

struct FileListEntry {
  std::string name;
  int32_t size = 0;
  std::string digest;
  std::string localDigest;
  bool needsDownload = false;
  const ServerLocation* source = nullptr;  // updateSource or iconsSource; lives for the process
  std::string directory;                   // "" or "data/textures/"
  bool packed = false;
};
