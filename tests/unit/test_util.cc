#include "test_util.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace testutil {

TempDir::TempDir() {
  std::random_device rd;
  for (;;) {
    fs::path p = fs::temp_directory_path() / ("tvl-test-" + std::to_string(rd()));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only files must be removable on Windows.
  for (auto& e : fs::recursive_directory_iterator(path_, ec))
    fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return (fs::path(path_) / name).string(); }

ScopedCurrentDir::ScopedCurrentDir(const std::string& dir) : old_(fs::current_path().string()) {
  fs::current_path(dir);
}

ScopedCurrentDir::~ScopedCurrentDir() {
  std::error_code ec;
  fs::current_path(old_, ec);
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::string sourcePath(const std::string& relative) {
  const char* root = std::getenv("TVL_SOURCE_DIR");
  return (fs::path(root ? root : ".") / relative).string();
}

}  // namespace testutil
