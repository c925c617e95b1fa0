// OpenSSL's MD5, fetched once per provider.
#include <openssl/evp.h>

#include "platform/evp_posix.h"
#include "platform/handle.h"
#include "platform/md5.h"

namespace platform {
namespace {

struct EvpMdTraits {
  using Type = EVP_MD*;
  static EVP_MD* none() { return nullptr; }
  static bool close(EVP_MD* md) {
    EVP_MD_free(md);
    return true;
  }
};

}  // namespace

struct Md5Provider::Impl {
  ScopedHandle<EvpMdTraits> md;
};

Md5Provider::Md5Provider() = default;
Md5Provider::~Md5Provider() = default;
Md5Provider::Md5Provider(Md5Provider&&) noexcept = default;
Md5Provider& Md5Provider::operator=(Md5Provider&&) noexcept = default;
void Md5Provider::release() { impl_.reset(); }

bool Md5Provider::open(std::string* error) {
  ScopedHandle<EvpMdTraits> md(EVP_MD_fetch(nullptr, "MD5", nullptr));
  if (!md.valid()) {
    if (error) *error = "cannot open the MD5 provider: OpenSSL offers no MD5";
    return false;
  }
  impl_.reset(new Impl{std::move(md)});
  return true;
}

struct Md5::Impl {
  const EVP_MD* md = nullptr;
  ScopedHandle<EvpContextTraits> ctx;
  bool started = false;
  bool failed = false;

  bool start() {
    if (!failed && !ctx.valid()) ctx.reset(EVP_MD_CTX_new());
    failed = failed || !ctx.valid() || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1;
    started = !failed;
    return started;
  }
};

Md5::Md5(const Md5Provider& provider) : impl_(new Impl) {
  impl_->md = provider.impl_ ? provider.impl_->md.get() : nullptr;
  impl_->failed = impl_->md == nullptr;
}

Md5::~Md5() = default;

bool Md5::update(const void* data, size_t size) {
  if (!impl_->started && !impl_->start()) return false;
  if (!impl_->failed && EVP_DigestUpdate(impl_->ctx.get(), data, size) != 1) impl_->failed = true;
  return !impl_->failed;
}

bool Md5::final(Md5Digest* digest) {
  bool ok = (impl_->started || impl_->start()) && !impl_->failed;
  unsigned int len = 0;
  ok = ok && EVP_DigestFinal_ex(impl_->ctx.get(), digest->data(), &len) == 1 && len == digest->size();
  impl_->started = false;
  impl_->failed = impl_->md == nullptr;
  return ok;
}

}  // namespace platform
