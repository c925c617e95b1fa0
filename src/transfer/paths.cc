#include "transfer/paths.h"

#include "base/path_rules.h"
#include "platform/fs.h"

namespace tvl {


// Never destroyed: the worker may still read it while the main thread ends
// the process through the orderly exit.
std::string& baseDir = *new std::string;

void initBaseDir() {
  baseDir = normalizeRelativePath(".");
  if (baseDir.empty() || baseDir.back() != '\\') baseDir += '\\';
}

std::string dataPath(const std::string& name) { return baseDir + "data\\" + normalizeRelativePath(name); }

void createParentDirectories(const std::string& path) {
  size_t componentStart = 0;
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] != '/' && path[i] != '\\') continue;
    if (i == componentStart) return;
    platform::createDirectory(path.substr(0, i));
    componentStart = i + 1;
  }
}

}  // namespace tvl
