// The parts of MD5 that are the same on every platform; the provider and the
// hashing itself live in md5_win32.cc and md5_posix.cc.
#include "platform/md5.h"

#include <atomic>

#include "base/text.h"

using namespace tvl;

namespace platform {
namespace {
std::atomic<bool> failAcquire{false};
}  // namespace

void failMd5ProviderForTesting(bool fail) { failAcquire = fail; }

bool Md5Provider::acquire(std::string* error) {
  if (impl_) return true;
  if (failAcquire) {
    if (error) *error = "cannot open the MD5 provider: refused";
    return false;
  }
  return open(error);
}

std::string Md5::finalHex() {
  Md5Digest d;
  return final(&d) ? toHexUpper(d.data(), d.size()) : std::string();
}

bool md5Of(const Md5Provider& provider, const void* data, size_t size, Md5Digest* digest) {
  Md5 md5(provider);
  return md5.update(data, size) && md5.final(digest);
}

std::string md5HexOf(const Md5Provider& provider, const void* data, size_t size) {
  Md5 md5(provider);
  md5.update(data, size);
  return md5.finalHex();
}


}  // namespace platform
