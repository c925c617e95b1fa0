// MD5 through OpenSSL, whose assembly is faster than the portable code.
#include <openssl/evp.h>

#include "publish/md5.h"

namespace publish {

struct Md5::State {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(ctx); }
};

Md5::Md5() : state_(new State) { EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr); }
Md5::~Md5() = default;

void Md5::update(const void* data, size_t size) { EVP_DigestUpdate(state_->ctx, data, size); }

std::string Md5::hexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(state_->ctx, digest, &size);
  EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr);
  return toHexUpper(digest, size);
}

}  // namespace publish
