// Text helpers every folder may use. Strings are narrow bytes in the
// system's ANSI code page; only the ASCII letters A-Z ever change case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tvl {


constexpr size_t npos = static_cast<size_t>(-1);

// Index of the first occurrence of needle in text at or after start, or npos.
// Only A-Z are folded; bytes above 127 compare as they are.
size_t findNoCase(const std::string& text, const std::string& needle, size_t start);

// Equal apart from the case of A-Z.
bool equalsNoCase(const std::string& a, const std::string& b);

// Decimal text of a signed 32-bit value.
std::string intToString(int32_t value);

// Hexadecimal text of bytes, two digits a byte.
std::string toHexLower(const uint8_t* bytes, size_t size);
std::string toHexUpper(const uint8_t* bytes, size_t size);

// Exactly 2 * size lower-case hex digits into out; false for anything else
// (upper case included: formats that use it have one spelling).
bool parseHexLower(std::string_view text, uint8_t* out, size_t size);

// Decimal digits without sign or leading zeros, at most max: the one spelling
// the stored formats write.
bool parseDecimal(std::string_view text, uint64_t max, uint64_t* out);

// parseDecimal with an optional leading '-', within int64_t.
bool parseSignedDecimal(std::string_view text, int64_t* out);

// The pieces of text between separators; "" is one empty piece.
std::vector<std::string> splitAt(const std::string& text, char separator);
inline std::vector<std::string> splitTabs(const std::string& line) { return splitAt(line, '\t'); }

}  // namespace tvl
