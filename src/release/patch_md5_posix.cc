#include <openssl/evp.h>

#include "release/patch_md5.h"

namespace release {

struct PatchMd5::State {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = false;
  ~State() { EVP_MD_CTX_free(ctx); }
};

PatchMd5::PatchMd5() : state_(new State) {
  state_->ok = state_->ctx && EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr) == 1;
}
PatchMd5::~PatchMd5() = default;

bool PatchMd5::ok() const { return state_->ok; }

void PatchMd5::update(const void* data, size_t size) {
  if (state_->ok) state_->ok = EVP_DigestUpdate(state_->ctx, data, size) == 1;
}

std::string PatchMd5::hexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!state_->ok || EVP_DigestFinal_ex(state_->ctx, digest, &size) != 1) {
    state_->ok = false;
    return "";
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

}  // namespace release
