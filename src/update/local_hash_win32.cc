#include <windows.h>
#include <wincrypt.h>

#include <atomic>

#include "update/local_hash.h"

namespace {
std::atomic<bool> failAcquire{false};

// Destroys the hash on every way out.
struct HashHandle {
  HCRYPTHASH h = 0;
  ~HashHandle() {
    if (h) CryptDestroyHash(h);
  }
};
}  // namespace

void failCryptProviderForTesting(bool fail) { failAcquire = fail; }

bool acquireCryptProvider(Updater& updater) {
  if (failAcquire) return false;
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextA(&prov, "UpdatePacker", nullptr, PROV_RSA_FULL, 0)) {
    // The container is created on first use and never removed.
    if (GetLastError() != static_cast<DWORD>(NTE_BAD_KEYSET) ||
        !CryptAcquireContextA(&prov, "UpdatePacker", nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET))
      return false;
  }
  updater.cryptProvider = static_cast<CryptProvider>(prov);
  return true;
}

void releaseCryptProvider(Updater& updater) {
  if (updater.cryptProvider) CryptReleaseContext(static_cast<HCRYPTPROV>(updater.cryptProvider), 0);
  updater.cryptProvider = 0;
}

bool md5Digest(uintptr_t provider, const uint8_t* data, uint32_t size, std::vector<uint8_t>& digest) {
  HashHandle hash;
  if (!CryptCreateHash(static_cast<HCRYPTPROV>(provider), CALG_MD5, 0, 0, &hash.h)) return false;
  if (!CryptHashData(hash.h, data, size, 0)) return false;
  DWORD hashSize = 0, len = sizeof hashSize;
  if (!CryptGetHashParam(hash.h, HP_HASHSIZE, reinterpret_cast<BYTE*>(&hashSize), &len, 0)) return false;
  digest.assign(hashSize, 0);
  len = hashSize;
  if (!CryptGetHashParam(hash.h, HP_HASHVAL, digest.data(), &len, 0)) return false;
  digest.resize(len);
  return true;
}
