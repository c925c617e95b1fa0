// The MD5 provider the publisher's tests hash with, and digests to expect.
#pragma once

#include <string>

#include "platform/md5.h"

namespace publish {

inline const platform::Md5Provider& md5Provider() {
  static platform::Md5Provider provider = [] {
    platform::Md5Provider p;
    p.acquire();
    return p;
  }();
  return provider;
}

inline std::string md5Of(const std::string& bytes) {
  return platform::md5HexOf(md5Provider(), bytes.data(), bytes.size());
}

}  // namespace publish
