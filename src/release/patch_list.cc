#include "release/patch_list.h"

#include <cstring>
#include <map>
#include <set>

#include "base/path_rules.h"

using namespace tvl;

namespace release {
namespace {

// Decimal without sign or leading zero, 1 .. max (below 2^63).
bool parseSize(const std::string& s, uint64_t max, uint64_t* out) {
  if (s.empty() || s.size() > 19 || s[0] == '0') return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > max) return false;
  *out = v;
  return true;
}

std::string nameProblem(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name.size() > kMaxPatchNameBytes) return "name longer than " + std::to_string(kMaxPatchNameBytes) + " bytes";
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return "control character in the name";
  }
  if (!tvl::isSafeRelativePath(name)) return "name leads outside the program folder";
  return "";
}

std::string lineProblem(const std::string& line, uint64_t maxPatchSize, PatchEntry* e) {
  std::string fields[5];
  size_t start = 0;
  for (int i = 0; i < 5; ++i) {
    size_t tab = line.find('\t', start);
    if ((tab == std::string::npos) != (i == 4)) return "not five TAB-separated fields";
    fields[i] = line.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
    start = tab + 1;
  }
  std::string problem = nameProblem(fields[0]);
  if (!problem.empty()) return problem;
  if (!isMd5Text(fields[1])) return "base is not 32 upper-case hexadecimal digits";
  if (!isMd5Text(fields[2])) return "target is not 32 upper-case hexadecimal digits";
  if (fields[1] == fields[2]) return "base and target are the same";
  if (!parseSize(fields[3], maxPatchSize, &e->size))
    return "size is not a number from 1 to " + std::to_string(maxPatchSize);
  problem = patchPathProblem(fields[4]);
  if (!problem.empty()) return problem;
  e->name = fields[0];
  e->baseMd5 = fields[1];
  e->targetMd5 = fields[2];
  e->path = fields[4];
  return "";
}

}  // namespace

bool isMd5Text(const std::string& text) {
  if (text.size() != 32) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

std::string patchPathProblem(const std::string& path) {
  if (path.empty()) return "empty path";
  if (path.size() > kMaxPatchPathBytes) return "path longer than " + std::to_string(kMaxPatchPathBytes) + " bytes";
  for (char c : path) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f) return "path holds a blank, a control or a non-ASCII byte";
    static const std::string kUrlBytes = "\\\"%#?<>^`{|}";
    if (kUrlBytes.find(c) != std::string::npos) return "path holds a byte with a meaning in a URL or a backslash";
  }
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part.empty() || part == "." || part == "..") return "path has an empty, '.' or '..' component";
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  if (!tvl::isSafeRelativePath(path)) return "path leads outside the server folder";
  return "";
}

bool parsePatchList(const char* data, size_t size, std::vector<PatchEntry>* entries, std::string* error,
                    uint64_t maxPatchSize) {
  entries->clear();
  if (size > kMaxPatchListBytes) {
    *error = "patch list larger than " + std::to_string(kMaxPatchListBytes) + " bytes";
    return false;
  }
  std::vector<PatchEntry> out;
  std::map<std::string, std::string> targetOf;          // name -> target
  std::set<std::pair<std::string, std::string>> bases;  // (name, base)
  size_t pos = 0;
  for (size_t lineNo = 1; pos < size; ++lineNo) {
    auto fail = [&](const std::string& why) {
      *error = "patch list line " + std::to_string(lineNo) + ": " + why;
      return false;
    };
    const char* begin = data + pos;
    const void* lf = std::memchr(begin, '\n', size - pos);
    if (!lf) return fail("does not end with CR LF");
    size_t len = static_cast<size_t>(static_cast<const char*>(lf) - begin);
    if (len == 0 || begin[len - 1] != '\r') return fail("does not end with CR LF");
    std::string line(begin, len - 1);
    pos += len + 1;
    if (line.find('\r') != std::string::npos) return fail("CR inside the line");
    PatchEntry e;
    std::string problem = lineProblem(line, maxPatchSize, &e);
    if (!problem.empty()) return fail(problem);
    auto [it, fresh] = targetOf.emplace(e.name, e.targetMd5);
    if (!fresh && it->second != e.targetMd5) return fail("another target for " + e.name + " than on an earlier line");
    if (!bases.emplace(e.name, e.baseMd5).second) return fail("a second patch from the same base for " + e.name);
    out.push_back(std::move(e));
  }
  *entries = std::move(out);
  return true;
}

std::string formatPatchList(const std::vector<PatchEntry>& entries) {
  std::string text;
  for (const PatchEntry& e : entries)
    text += e.name + '\t' + e.baseMd5 + '\t' + e.targetMd5 + '\t' + std::to_string(e.size) + '\t' + e.path + "\r\n";
  return text;
}

const PatchEntry* findPatch(const std::vector<PatchEntry>& entries, const std::string& name,
                            const std::string& localMd5, const std::string& listMd5) {
  for (const PatchEntry& e : entries)
    if (e.name == name && e.baseMd5 == localMd5 && e.targetMd5 == listMd5) return &e;
  return nullptr;
}

}  // namespace release
