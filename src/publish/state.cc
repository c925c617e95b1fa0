#include "publish/state.h"

#include "base/text.h"
#include "release/patch_list.h"

#include <cstdlib>
#include <vector>

namespace publish {
namespace {

const char kMagic[] = "tervalis-publish-state 1";
const char kMagicSha256[] = "tervalis-publish-state 2";  // one more column: the output's SHA-256

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
  std::vector<std::string> list = tvl::splitTabs(line);
  if (list.size() != 4 + extra || list[0] != "list" || !tvl::parseSignedDecimal(list[2], &parsed.listStamp) ||
      !tvl::parseDecimal(list[3], UINT64_MAX, &parsed.listOutputSize) || (list[1] != "-" && !release::isMd5Text(list[1])) ||
      (extra && !parseSha256Field(list[4], &parsed.listSha256)))
    return false;
  if (list[1] != "-") parsed.listMd5 = list[1];
  for (;;) {
    if (!nextLine(&line)) return false;
    if (line == "end") break;
    std::vector<std::string> f = tvl::splitTabs(line);
    StateEntry e;
    if (f.size() != 6 + extra || f[0].empty() || !tvl::parseDecimal(f[1], UINT64_MAX, &e.size) || !tvl::parseSignedDecimal(f[2], &e.mtimeNs) ||
        !release::isMd5Text(f[3]) || !tvl::parseSignedDecimal(f[4], &e.stamp) || !tvl::parseDecimal(f[5], UINT64_MAX, &e.outputSize) ||
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
