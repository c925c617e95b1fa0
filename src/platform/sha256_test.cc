#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "base/text.h"

using namespace tvl;

namespace platform {
namespace {

std::string hexOf(Sha256& h) {
  Sha256Digest d;
  return h.final(&d) ? toHexLower(d.data(), d.size()) : "failed";
}

// FIPS 180-2 examples, whole and fed in odd-sized pieces that straddle the
// 64-byte blocks; final() starts the next stream on the same object.
TEST(Sha256, KnownDigestsWholeAndInOddPieces) {
  const std::pair<std::string, const char*> vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  const size_t pieces[] = {1, 7, 63, 65, 0, 129, 4093};
  Sha256 h;
  for (const auto& [data, want] : vectors) {
    h.update(data.data(), data.size());
    EXPECT_EQ(hexOf(h), want) << data.size() << " bytes at once";
    size_t at = 0;
    for (size_t i = 0; at < data.size(); ++i) {
      size_t n = std::min(pieces[i % 7], data.size() - at);
      ASSERT_TRUE(h.update(data.data() + at, n));
      at += n;
    }
    EXPECT_EQ(hexOf(h), want) << data.size() << " bytes in pieces";
  }
}

}  // namespace
}  // namespace platform
