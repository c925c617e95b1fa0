#include "release/sha256.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <sodium.h>

namespace release {

Digest Sha256::finish() {
  Digest d;
  if (!finish(&d)) d.fill(0);
  return d;
}

Digest sha256Of(const void* data, size_t size) {
  Sha256 h;
  h.update(data, size);
  return h.finish();
}

bool sha256File(const std::string& path, Digest* digest, uint64_t* size, std::string* error) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!f) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  Sha256 h;
  std::vector<unsigned char> buf(256 * 1024);
  uint64_t total = 0;
  size_t got;
  while ((got = std::fread(buf.data(), 1, buf.size(), f.get())) > 0) {
    h.update(buf.data(), got);
    total += got;
  }
  if (std::ferror(f.get())) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!h.finish(digest)) {
    *error = "cannot hash " + path + ": the system's SHA-256 failed";
    return false;
  }
  *size = total;
  return true;
}

ReceiveCheck::ReceiveCheck(uint64_t expectedSize, const Digest& expectedDigest)
    : expectedSize_(expectedSize), expectedDigest_(expectedDigest) {}

bool ReceiveCheck::feed(const void* data, size_t size) {
  if (overrun_ || size > expectedSize_ - received_) {
    overrun_ = true;
    return false;
  }
  hash_.update(data, size);
  received_ += size;
  return true;
}

ReceiveCheck::Result ReceiveCheck::finish() {
  if (overrun_) return Result::TooLong;
  if (received_ < expectedSize_) return Result::TooShort;
  Digest got;
  if (!hash_.finish(&got)) return Result::WrongDigest;
  return sodium_memcmp(got.data(), expectedDigest_.data(), got.size()) == 0 ? Result::Match : Result::WrongDigest;
}

const char* describe(ReceiveCheck::Result result) {
  switch (result) {
    case ReceiveCheck::Result::Match: return "size and SHA-256 match the release manifest";
    case ReceiveCheck::Result::TooShort: return "fewer bytes than the release manifest names";
    case ReceiveCheck::Result::TooLong: return "more bytes than the release manifest names";
    case ReceiveCheck::Result::WrongDigest: return "SHA-256 differs from the release manifest";
  }
  return "";
}

}  // namespace release
