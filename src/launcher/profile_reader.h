// A reader of Windows profile (INI) files that follows the rules of the
// system's own GetPrivateProfileStringA, for platforms that have none:
//  - lines end at CR or LF; TAB, ^Z and other blanks around lines, names and
//    values are dropped;
//  - "[name]" opens a section (up to the last "]"); a line without "=" is a
//    key without value, which reads as the default;
//  - section and key names match without regard to ASCII letter case; only
//    the first section of a name is searched, and the first key wins;
//  - a value in matching single or double quotes loses them;
//  - the result is cut to bufferSize - 1 characters.
// The differential test holds it against the real thing under Wine.
#pragma once

#include <cstddef>
#include <string>

namespace tvl {


constexpr size_t kProfileBufferSize = 0x7FFF;

// fileText null means that the file does not exist.
std::string profileGetString(const std::string* fileText, const std::string& section, const std::string& key,
                             const std::string& defaultValue, size_t bufferSize);

}  // namespace tvl
