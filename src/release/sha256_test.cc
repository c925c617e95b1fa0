#include "release/sha256.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "test_util.h"

using namespace tvl;

namespace release {
namespace {

// The vectors themselves are the platform's tests; here, files and the wrapper.
TEST(Sha256, FilesHashLikeTheirBytes) {
  Digest d = sha256Of("abc", 3);
  EXPECT_EQ(toHexLower(d.data(), d.size()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  testutil::TempDir dir;
  std::string big(600000, 'z');
  testutil::writeFile(dir.file("f"), big);
  uint64_t size = 0;
  std::string error;
  ASSERT_TRUE(sha256File(dir.file("f"), &d, &size, &error)) << error;
  EXPECT_EQ(size, big.size());
  EXPECT_EQ(d, sha256Of(big.data(), big.size()));
  EXPECT_FALSE(sha256File(dir.file("missing"), &d, &size, &error));
  EXPECT_NE(error.find("missing"), std::string::npos);
}

TEST(ReceiveCheck, SizeAndDigestWhileReceiving) {
  const std::string data = "0123456789abcdef";
  const Digest right = sha256Of(data.data(), data.size());
  Digest wrong = right;
  wrong[31] ^= 1;
  using R = ReceiveCheck::Result;
  struct Case {
    const char* what;
    std::vector<std::string> chunks;
    Digest expected;
    bool lastFeedOk;
    R result;
  };
  const Case cases[] = {
      {"exact, one chunk", {data}, right, true, R::Match},
      {"exact, in pieces", {"0123", "", "456789abcde", "f"}, right, true, R::Match},
      {"short", {"0123456789abcde"}, right, true, R::TooShort},
      {"nothing", {}, right, true, R::TooShort},
      {"one byte long", {data + "!"}, right, false, R::TooLong},
      {"long in a later chunk", {data, "!"}, right, false, R::TooLong},
      {"long, then more", {"0123456789abcdefXX", "0"}, right, false, R::TooLong},
      {"wrong digest", {data}, wrong, true, R::WrongDigest},
      {"same size, other bytes", {"0123456789abcdeF"}, right, true, R::WrongDigest},
  };
  for (const Case& c : cases) {
    ReceiveCheck check(data.size(), c.expected);
    bool ok = true;
    for (const std::string& chunk : c.chunks) ok = check.feed(chunk.data(), chunk.size());
    EXPECT_EQ(ok, c.lastFeedOk) << c.what;
    EXPECT_LE(check.received(), data.size()) << c.what;  // never hashes past the size
    if (!ok) {
      EXPECT_EQ(check.remaining(), 0u) << c.what;
    }
    EXPECT_EQ(check.finish(), c.result) << c.what << ": " << describe(check.finish());
  }
  ReceiveCheck empty(0, sha256Of("", 0));
  EXPECT_EQ(empty.remaining(), 0u);
  EXPECT_EQ(empty.finish(), R::Match);
  ReceiveCheck partial(data.size(), right);
  partial.feed(data.data(), 10);
  EXPECT_EQ(partial.remaining(), 6u);
}

}  // namespace
}  // namespace release
