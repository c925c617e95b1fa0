// OpenSSL's SHA-256 (EVP: the CPU's SHA or vector instructions).
#include <openssl/evp.h>

#include "platform/evp_posix.h"
#include "platform/handle.h"
#include "platform/sha256.h"

namespace platform {

struct Sha256::Impl {
  ScopedHandle<EvpContextTraits> ctx;
  bool started = false;
  bool failed = false;

  bool start() {
    if (!ctx.valid()) ctx.reset(EVP_MD_CTX_new());
    failed = !ctx.valid() || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1;
    started = !failed;
    return started;
  }
};

Sha256::Sha256() : impl_(new Impl) {}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

bool Sha256::update(const void* data, size_t size) {
  if (impl_->failed) return false;
  if (!impl_->started && !impl_->start()) return false;
  if (EVP_DigestUpdate(impl_->ctx.get(), data, size) != 1) impl_->failed = true;
  return !impl_->failed;
}

bool Sha256::final(Sha256Digest* digest) {
  bool ok = !impl_->failed && (impl_->started || impl_->start());
  unsigned int len = 0;
  ok = ok && EVP_DigestFinal_ex(impl_->ctx.get(), digest->data(), &len) == 1 && len == digest->size();
  impl_->started = false;
  impl_->failed = false;
  return ok;
}

}  // namespace platform
