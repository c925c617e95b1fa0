// The Content-Length value as the download counts with it.
#pragma once

#include <cstdint>

namespace tvl {


// Leading white space and one sign are allowed; reading stops at the first
// byte that is not a digit; no digits give 0. Values outside the signed
// 64-bit range saturate, so a huge length can never wrap into a small or
// negative count.
int64_t parseContentLength(const char* text);

}  // namespace tvl
