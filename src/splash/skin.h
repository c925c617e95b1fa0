// Skins: the image files in data/updater, one of which is picked at random
// at start-up to be the splash window's picture. skinPath names it from then
// on; empty means no skin. Written once on the main thread before the window
// and the worker exist, read-only afterwards.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tvl {


extern std::string skinPath;

extern const char kSkinDirectory[];  // "data/updater"
extern const char kSkinPattern[];    // "*.*"

// std::string compares bytes as unsigned values, so a set of paths is in
// ascending byte order ("Z.png" before "a.png").
using SkinPathSet = std::set<std::string>;
using SkinList = std::vector<std::string>;

// The prefix scanDirectory puts before each name: "" for ".", otherwise the
// directory with one trailing backslash. False when the directory, its
// backslash and a terminating zero don't fit a MAX_PATH buffer.
bool scanPrefix(const std::string& directory, std::string* prefix);

// Index of the skin for one draw r (0..32767) among count skins.
size_t skinIndex(uint32_t r, size_t count);

// The first draw (0..32767) of the generator seeded with seed.
uint32_t firstDraw(uint32_t seed);

// The skin that the draw seeded with seed picks; "" for an empty list.
std::string pickSkin(const SkinList& list, uint32_t seed);

// Windows only (the headless build shows no picture):

// Adds prefix + name for every entry of directory that matches pattern and is
// not a directory. Subdirectories are not entered.
void scanDirectory(SkinPathSet& paths, const std::string& directory, const std::string& pattern);

// The paths of data/updater whose files decode as images, in byte order.
SkinList loadSkinList();

// Sets skinPath to a skin picked with the tick count as seed; leaves it empty
// (and draws nothing) for an empty list.
void chooseSkin(const SkinList& list);

}  // namespace tvl
