// CNG's SHA-256. The algorithm provider is opened once per process and kept:
// opening it is the costly part, and a handle is shared safely by threads.
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>

#include "platform/handle.h"
#include "platform/sha256.h"

namespace platform {
namespace {

BCRYPT_ALG_HANDLE sha256Algorithm() {
  static BCRYPT_ALG_HANDLE algorithm = [] {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) h = nullptr;
    return h;
  }();
  return algorithm;
}

struct BCryptHashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static BCRYPT_HASH_HANDLE none() { return nullptr; }
  static bool close(BCRYPT_HASH_HANDLE h) { return BCryptDestroyHash(h) == 0; }
};

}  // namespace

struct Sha256::Impl {
  ScopedHandle<BCryptHashTraits> hash;  // created by the first update of a stream
  bool failed = false;

  bool start() {
    BCRYPT_ALG_HANDLE algorithm = sha256Algorithm();
    BCRYPT_HASH_HANDLE h = nullptr;
    failed = !algorithm || BCryptCreateHash(algorithm, &h, nullptr, 0, nullptr, 0, 0) != 0;
    if (!failed) hash.reset(h);
    return !failed;
  }
};

Sha256::Sha256() : impl_(new Impl) {}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

bool Sha256::update(const void* data, size_t size) {
  if (impl_->failed) return false;
  if (!impl_->hash.valid() && !impl_->start()) return false;
  // BCryptHashData reads the input without writing it, whatever its prototype says.
  PUCHAR p = static_cast<PUCHAR>(const_cast<void*>(data));
  while (size > 0 && !impl_->failed) {
    ULONG chunk = static_cast<ULONG>(std::min<size_t>(size, 0x40000000u));
    if (BCryptHashData(impl_->hash.get(), p, chunk, 0) != 0) impl_->failed = true;
    p += chunk;
    size -= chunk;
  }
  return !impl_->failed;
}

bool Sha256::final(Sha256Digest* digest) {
  bool ok = !impl_->failed && (impl_->hash.valid() || impl_->start());
  ok = ok && BCryptFinishHash(impl_->hash.get(), digest->data(), static_cast<ULONG>(digest->size()), 0) == 0;
  impl_->hash.reset();
  impl_->failed = false;
  return ok;
}

}  // namespace platform
