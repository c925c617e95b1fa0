// The Windows build hashes with the portable MD5: no provider or key
// container to set up on the publisher's machine.
#include "publish/md5.h"
#include "publish/md5_portable.h"

namespace publish {

struct Md5::State {
  PortableMd5 md5;
};

Md5::Md5() : state_(new State) {}
Md5::~Md5() = default;

void Md5::update(const void* data, size_t size) { state_->md5.update(data, size); }

std::string Md5::hexDigest() {
  unsigned char digest[16];
  state_->md5.finish(digest);
  return toHexUpper(digest, sizeof digest);
}

}  // namespace publish
