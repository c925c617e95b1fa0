#include "splash/skin.h"

namespace tvl {


std::string skinPath;

const char kSkinDirectory[] = "data/updater";
const char kSkinPattern[] = "*.*";

namespace {
constexpr size_t kMaxPath = 260;
}

bool scanPrefix(const std::string& directory, std::string* prefix) {
  if (directory == ".") {
    prefix->clear();
    return true;
  }
  std::string p = directory;
  if (!p.empty() && p.back() != '\\') p += '\\';
  if (p.size() + 1 > kMaxPath) return false;
  *prefix = p;
  return true;
}

size_t skinIndex(uint32_t r, size_t count) { return static_cast<size_t>(r) % count; }

// A linear congruential generator with 15-bit output, the classic shape of
// the C library's rand: near-uniform over a handful of skins.
uint32_t firstDraw(uint32_t seed) {
  uint32_t state = seed * 214013u + 2531011u;
  return (state >> 16) & 0x7FFF;
}

std::string pickSkin(const SkinList& list, uint32_t seed) {
  if (list.empty()) return std::string();
  return list[skinIndex(firstDraw(seed), list.size())];
}

}  // namespace tvl
