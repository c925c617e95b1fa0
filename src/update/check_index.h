// The local index of verified files: for every listed file the launcher
// read and found current, its identity (size, modification time, the file
// system's identity) and the digest text it computed. At the next start a
// file whose identity still matches is taken as having that digest without
// being read. What it trusts: a file rewritten in place with the same size
// and time keeps counting as current until the next full check.
//
// The index is written whole to a temporary name and renamed, so a killed
// run leaves the old index or the new one. It records the launcher file it
// was made by: another build, or a replaced launcher, reads everything.
//
// Thread safety: the update worker alone uses it.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/fs.h"
#include "update/file_list.h"
#include "update/updater.h"

namespace tvl {


struct CheckIndex {
  struct Record {
    std::string digest;
    platform::FileIdentity identity;
  };
  platform::FileIdentity launcher;  // the launcher file that wrote it
  int64_t lastFullCheck = 0;        // seconds since 1970 (UTC)
  std::map<std::string, Record> files;  // by directory + name as listed
};

// The index as file text, ending in a line with the record count and the
// SHA-256 of everything before it.
std::string formatCheckIndex(const CheckIndex& index);
// False for text that formatCheckIndex of this platform's build did not
// make: damaged, truncated, another platform or format.
bool parseCheckIndex(const std::string& text, CheckIndex* out);

enum class IndexState { kMissing, kDamaged, kOk };
// text, when given, receives the file's text of an index that reads.
IndexState readCheckIndex(const std::string& path, CheckIndex* out, std::string* text = nullptr);
// Through path + ".tmp", then a rename; false with *error on failure (the
// old index is left as it was).
bool writeCheckIndex(const std::string& path, const CheckIndex& index, std::string* error);

// Why every file must be read this time, or "" when the index may be used.
// launcher: the running launcher's file (launcherKnown false when its
// identity cannot be read); now and the index's last full check in seconds
// since 1970.
std::string fullCheckReason(IndexState state, const CheckIndex& index, bool launcherKnown,
                            const platform::FileIdentity& launcher, bool restarted, int64_t now, int fullCheckDays);

// The local check of one run. With updater.options.checkIndex off it is
// checkLocalFile for every entry and touches no index.
class LocalCheck {
 public:
  LocalCheck(Updater& updater, bool restarted);

  // As checkLocalFile; a file whose identity matches its record, and whose
  // recorded digest is the list's, is current without being read.
  bool check(FileListEntry& entry);

  // Writes the new index (files found current this run) and notes in the
  // support log how many files were read.
  void finish();

  int checked() const { return checked_; }
  int read() const { return read_; }
  int trusted() const { return trusted_; }
  const std::string& fullReason() const { return fullReason_; }

 private:
  // A recorded file's identity, from one listing of its directory.
  bool listedIdentity(const std::string& path, platform::FileIdentity* out);

  Updater& updater_;
  bool enabled_;
  std::string oldText_;
  std::map<std::string, std::map<std::string, platform::FileIdentity>> listings_;
  std::string path_;
  CheckIndex old_, new_;
  bool launcherKnown_ = false;
  std::string fullReason_;
  int checked_ = 0;
  int read_ = 0;
  int trusted_ = 0;
};

}  // namespace tvl
