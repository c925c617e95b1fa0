// OpenSSL digest contexts owned like every other handle; shared by the
// POSIX MD5 and SHA-256 backends.
#pragma once

#include <openssl/evp.h>

#include "platform/handle.h"

namespace platform {

struct EvpContextTraits {
  using Type = EVP_MD_CTX*;
  static EVP_MD_CTX* none() { return nullptr; }
  static bool close(EVP_MD_CTX* ctx) {
    EVP_MD_CTX_free(ctx);
    return true;
  }
};

}  // namespace platform
