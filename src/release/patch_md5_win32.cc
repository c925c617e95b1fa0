// CryptoAPI MD5 through a verify-only context: no key container is needed
// for hashing.
#include <windows.h>
#include <wincrypt.h>

#include "release/patch_md5.h"

namespace release {

struct PatchMd5::State {
  HCRYPTPROV prov = 0;
  HCRYPTHASH hash = 0;
  bool ok = false;
  ~State() {
    if (hash) CryptDestroyHash(hash);
    if (prov) CryptReleaseContext(prov, 0);
  }
};

PatchMd5::PatchMd5() : state_(new State) {
  state_->ok = CryptAcquireContextA(&state_->prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
               CryptCreateHash(state_->prov, CALG_MD5, 0, 0, &state_->hash);
}
PatchMd5::~PatchMd5() = default;

bool PatchMd5::ok() const { return state_->ok; }

void PatchMd5::update(const void* data, size_t size) {
  const BYTE* p = static_cast<const BYTE*>(data);
  // CryptHashData takes a 32-bit length.
  while (state_->ok && size > 0) {
    DWORD n = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    state_->ok = CryptHashData(state_->hash, p, n, 0) != FALSE;
    p += n;
    size -= n;
  }
}

std::string PatchMd5::hexDigest() {
  BYTE digest[16];
  DWORD len = sizeof digest;
  if (!state_->ok || !CryptGetHashParam(state_->hash, HP_HASHVAL, digest, &len, 0) || len != sizeof digest) {
    state_->ok = false;
    return "";
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (BYTE b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

}  // namespace release
