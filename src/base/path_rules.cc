#include "base/path_rules.h"

namespace tvl {


namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

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

bool isSafeRelativePath(const std::string& path) {
  if (path.empty() || path[0] == '/' || path[0] == '\\') return false;
  // The system stops reading a name at NUL: what it sees must be checked.
  if (path.find_first_of(std::string(":\0", 2)) != std::string::npos) return false;
  int depth = 0;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (--depth < 0) return false;
    } else if (!part.empty() && part != ".") {
      if (part.find_first_not_of(". ") == std::string::npos) return false;
      ++depth;
    }
    start = end + 1;
  }
  return true;
}

std::string sanitiseItemName(const std::string& name) {
  // The remaining name is always a suffix, name[pos..]; each pattern's next
  // occurrence only moves forward, so the work stays linear in the length.
  static const char* const kParentSteps[] = {"\\..\\", "\\../", "/../", "/..\\"};
  size_t next[4];
  for (size_t k = 0; k < 4; ++k) next[k] = name.find(kParentSteps[k]);
  size_t pos = 0;
  for (;;) {
    size_t left = name.size() - pos;
    if (left >= 2 && name[pos + 1] == ':') {
      pos += 2;
      continue;
    }
    if (left >= 1 && isSeparator(name[pos])) {
      pos += 1;
      continue;
    }
    bool cutDone = false;
    for (size_t k = 0; k < 4 && !cutDone; ++k) {
      if (next[k] != std::string::npos && next[k] < pos) next[k] = name.find(kParentSteps[k], pos);
      if (next[k] != std::string::npos) {
        pos = next[k] + 4;
        cutDone = true;
      }
    }
    if (!cutDone) break;
  }
  return name.substr(pos);
}

}  // namespace tvl
