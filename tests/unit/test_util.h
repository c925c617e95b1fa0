// Small helpers for unit tests: scratch directories and whole-file I/O.
#pragma once

#include <string>

#include "base/connection.h"

namespace testutil {

// A fresh empty directory below the system's temporary directory; removed by
// the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + separator + name
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

// Makes dir the working directory until destruction, then restores the old
// one. Code that works below baseDir (".\\") needs this.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::string& dir);
  ~ScopedCurrentDir();
  ScopedCurrentDir(const ScopedCurrentDir&) = delete;
  ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

 private:
  std::string old_;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool exists(const std::string& path);

// Connection settings for code under test, which takes them as a parameter.
inline tvl::ConnectionSettings& settings() {
  static tvl::ConnectionSettings s;
  return s;
}

// Path of a file in the source tree (TVL_SOURCE_DIR), for test corpora.
std::string sourcePath(const std::string& relative);

}  // namespace testutil
