// The only file that sees the build's release key, so that a launcher
// built with another key recompiles this file alone.
#include "update/release_check.h"

namespace tvl {


std::vector<release::PublicKey> builtInReleaseKeys() {
  std::vector<release::PublicKey> keys;
  // CMake has checked the form; should it ever not parse, a key nobody holds
  // makes every release refused rather than unchecked.
  if (!release::parsePublicKeyList(TVL_RELEASE_PUBLIC_KEY, &keys)) keys.assign(1, release::PublicKey{});
  return keys;
}

uint64_t builtInReleaseFloor() { return TVL_RELEASE_FLOOR; }

}  // namespace tvl
