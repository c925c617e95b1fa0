#include "transfer/paths.h"

std::string baseDir;

std::string normalizeRelativePath(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
    out += c;
  }
  if (!out.empty() && out[0] == '\\') out.erase(0, 1);
  return out;
}

void initBaseDir() {
  baseDir = normalizeRelativePath(".");
  if (baseDir.empty() || baseDir.back() != '\\') baseDir += '\\';
}

std::string dataPath(const std::string& name) { return baseDir + "data\\" + normalizeRelativePath(name); }
