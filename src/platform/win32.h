// Windows only: scoped owners of search and CryptoAPI handles, and the text
// of a system error code.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "platform/handle.h"

namespace platform {

// A FindFirstFileA search; FindClose when done.
struct FindHandleTraits {
  using Type = HANDLE;
  static HANDLE none() { return INVALID_HANDLE_VALUE; }
  static bool close(HANDLE h) { return FindClose(h) != 0; }
};
using ScopedFind = ScopedHandle<FindHandleTraits>;

struct CryptProviderTraits {
  using Type = HCRYPTPROV;
  static HCRYPTPROV none() { return 0; }
  static bool close(HCRYPTPROV p) { return CryptReleaseContext(p, 0) != 0; }
};
using ScopedCryptProvider = ScopedHandle<CryptProviderTraits>;

struct CryptHashTraits {
  using Type = HCRYPTHASH;
  static HCRYPTHASH none() { return 0; }
  static bool close(HCRYPTHASH h) { return CryptDestroyHash(h) != 0; }
};
using ScopedCryptHash = ScopedHandle<CryptHashTraits>;

// The system's message for a GetLastError() code, without the trailing
// period and line break.
std::string win32ErrorText(DWORD code);

}  // namespace platform
