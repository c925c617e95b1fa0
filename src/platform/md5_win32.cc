// CryptoAPI MD5 on the "UpdatePacker" key container.
#include <algorithm>

#include "platform/md5.h"
#include "platform/win32.h"

namespace platform {

struct Md5Provider::Impl {
  ScopedCryptProvider provider;
};

Md5Provider::Md5Provider() = default;
Md5Provider::~Md5Provider() = default;
Md5Provider::Md5Provider(Md5Provider&&) noexcept = default;
Md5Provider& Md5Provider::operator=(Md5Provider&&) noexcept = default;
void Md5Provider::release() { impl_.reset(); }

bool Md5Provider::open(std::string* error) {
  HCRYPTPROV prov = 0;
  bool ok = CryptAcquireContextA(&prov, "UpdatePacker", nullptr, PROV_RSA_FULL, 0) != 0;
  // The container is created on first use and never removed.
  if (!ok && GetLastError() == static_cast<DWORD>(NTE_BAD_KEYSET))
    ok = CryptAcquireContextA(&prov, "UpdatePacker", nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET) != 0;
  if (!ok) {
    if (error) *error = "cannot open the MD5 provider (key container UpdatePacker): " + win32ErrorText(GetLastError());
    return false;
  }
  impl_.reset(new Impl{ScopedCryptProvider(prov)});
  return true;
}

struct Md5::Impl {
  HCRYPTPROV provider = 0;
  ScopedCryptHash hash;  // created by the first update of a stream
  bool failed = false;

  bool start() {
    HCRYPTHASH h = 0;
    if (failed || !CryptCreateHash(provider, CALG_MD5, 0, 0, &h)) {
      failed = true;
      return false;
    }
    hash.reset(h);
    return true;
  }
};

Md5::Md5(const Md5Provider& provider) : impl_(new Impl) {
  impl_->provider = provider.impl_ ? provider.impl_->provider.get() : 0;
  impl_->failed = impl_->provider == 0;
}

Md5::~Md5() = default;

bool Md5::update(const void* data, size_t size) {
  if (!impl_->hash.valid() && !impl_->start()) return false;
  const BYTE* p = static_cast<const BYTE*>(data);
  while (size > 0 && !impl_->failed) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 0x40000000u));
    if (!CryptHashData(impl_->hash.get(), p, chunk, 0)) impl_->failed = true;
    p += chunk;
    size -= chunk;
  }
  return !impl_->failed;
}

bool Md5::final(Md5Digest* digest) {
  bool ok = impl_->hash.valid() || impl_->start();
  DWORD len = static_cast<DWORD>(digest->size());
  ok = ok && !impl_->failed && CryptGetHashParam(impl_->hash.get(), HP_HASHVAL, digest->data(), &len, 0) &&
       len == digest->size();
  impl_->hash.reset();
  impl_->failed = impl_->provider == 0;
  return ok;
}

}  // namespace platform
