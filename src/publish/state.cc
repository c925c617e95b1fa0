#include "publish/state.h"

#include <cstdlib>
#include <vector>

namespace publish {
namespace {

const char kMagic[] = "tervalis-publish-state 1";
const char kMagicSha256[] = "tervalis-publish-state 2";  // one more column: the output's SHA-256

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return out;
    start = tab + 1;
  }
}

bool parseU64(const std::string& s, uint64_t* out) {
  if (s.empty() || s.size() > 20) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    uint64_t next = v * 10 + static_cast<uint64_t>(c - '0');
    if (next / 10 != v) return false;
    v = next;
  }
  *out = v;
  return true;
}

bool parseI64(const std::string& s, int64_t* out) {
  bool negative = !s.empty() && s[0] == '-';
  uint64_t v;
  if (!parseU64(negative ? s.substr(1) : s, &v) || v > 9223372036854775807ULL) return false;
  *out = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  return true;
}

bool isSha256(const std::string& s) {
  if (s.size() != 64) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::string sha256Field(const std::string& s) { return s.empty() ? "-" : s; }

bool parseSha256Field(const std::string& field, std::string* out) {
  if (field == "-") return true;
  if (!isSha256(field)) return false;
  *out = field;
  return true;
}

bool isDigest(const std::string& s) {
  if (s.size() != 32) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

}  // namespace

std::string serialiseState(const PublishState& state) {
  bool sha = !state.listSha256.empty();
  for (const auto& entry : state.entries) sha = sha || !entry.second.outputSha256.empty();
  std::string out = std::string(sha ? kMagicSha256 : kMagic) + "\n" + "packing\t" + state.packing + "\n" + "list\t" +
                    (state.listMd5.empty() ? "-" : state.listMd5) + '\t' + std::to_string(state.listStamp) + '\t' +
                    std::to_string(state.listOutputSize) + (sha ? '\t' + sha256Field(state.listSha256) : "") + "\n";
  for (const auto& [name, e] : state.entries)
    out += name + '\t' + std::to_string(e.size) + '\t' + std::to_string(e.mtimeNs) + '\t' + e.md5 + '\t' +
           std::to_string(e.stamp) + '\t' + std::to_string(e.outputSize) +
           (sha ? '\t' + sha256Field(e.outputSha256) : "") + '\n';
  out += "end\n";  // a cut-off file lacks it
  return out;
}

bool parseState(const std::string& text, PublishState* state) {
  *state = PublishState();
  PublishState parsed;
  size_t pos = 0;
  auto nextLine = [&](std::string* line) {
    if (pos >= text.size()) return false;
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) return false;  // every line ends with LF
    *line = text.substr(pos, nl - pos);
    pos = nl + 1;
    return true;
  };
  std::string line;
  if (!nextLine(&line) || (line != kMagic && line != kMagicSha256)) return false;
  const size_t extra = line == kMagicSha256 ? 1 : 0;
  if (!nextLine(&line) || line.compare(0, 8, "packing\t") != 0) return false;
  parsed.packing = line.substr(8);
  if (!nextLine(&line)) return false;
  std::vector<std::string> list = splitTabs(line);
  if (list.size() != 4 + extra || list[0] != "list" || !parseI64(list[2], &parsed.listStamp) ||
      !parseU64(list[3], &parsed.listOutputSize) || (list[1] != "-" && !isDigest(list[1])) ||
      (extra && !parseSha256Field(list[4], &parsed.listSha256)))
    return false;
  if (list[1] != "-") parsed.listMd5 = list[1];
  for (;;) {
    if (!nextLine(&line)) return false;
    if (line == "end") break;
    std::vector<std::string> f = splitTabs(line);
    StateEntry e;
    if (f.size() != 6 + extra || f[0].empty() || !parseU64(f[1], &e.size) || !parseI64(f[2], &e.mtimeNs) ||
        !isDigest(f[3]) || !parseI64(f[4], &e.stamp) || !parseU64(f[5], &e.outputSize) ||
        (extra && !parseSha256Field(f[6], &e.outputSha256)))
      return false;
    e.md5 = f[3];
    parsed.entries[f[0]] = e;
  }
  if (pos != text.size()) return false;
  *state = std::move(parsed);
  return true;
}

}  // namespace publish
