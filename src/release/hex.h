// Lower-case hexadecimal text of bytes, the only form the release formats use.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace release {

std::string toHex(const unsigned char* bytes, size_t size);

// Exactly 2 * size lower-case hex digits into out; false for anything else
// (upper case included: a form has one spelling).
bool fromHex(std::string_view text, unsigned char* out, size_t size);

}  // namespace release
