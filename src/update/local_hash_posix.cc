#include <openssl/evp.h>

#include <atomic>

#include "update/local_hash.h"

namespace {
std::atomic<bool> failAcquire{false};
}  // namespace

void failCryptProviderForTesting(bool fail) { failAcquire = fail; }

// The provider is OpenSSL's MD5 implementation, fetched once per run.
bool acquireCryptProvider(Updater& updater) {
  if (failAcquire) return false;
  EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);
  if (!md) return false;
  updater.cryptProvider = reinterpret_cast<CryptProvider>(md);
  return true;
}

void releaseCryptProvider(Updater& updater) {
  if (updater.cryptProvider) EVP_MD_free(reinterpret_cast<EVP_MD*>(updater.cryptProvider));
  updater.cryptProvider = 0;
}

bool md5Digest(uintptr_t provider, const uint8_t* data, uint32_t size, std::vector<uint8_t>& digest) {
  if (!provider) return false;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (!ctx) return false;
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  bool ok = EVP_DigestInit_ex(ctx, reinterpret_cast<const EVP_MD*>(provider), nullptr) == 1 &&
            EVP_DigestUpdate(ctx, data, size) == 1 && EVP_DigestFinal_ex(ctx, out, &len) == 1;
  EVP_MD_CTX_free(ctx);
  if (!ok) return false;
  digest.assign(out, out + len);
  return true;
}
