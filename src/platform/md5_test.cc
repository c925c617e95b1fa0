#include "platform/md5.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>

#include "base/text.h"

using namespace tvl;

namespace platform {
namespace {

class Md5Test : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(provider.acquire()); }
  std::string streamed(const std::string& data, size_t split) {
    Md5 md5(provider);
    md5.update(data.data(), split);
    md5.update(data.data() + split, data.size() - split);
    return md5.finalHex();
  }
  Md5Provider provider;
};

TEST_F(Md5Test, KnownDigestsInOneCallAndStreamed) {
  const std::pair<std::string, const char*> vectors[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
      {std::string(1000000, 'a'), "7707D6AE4E027C70EEA2A935C2296F21"},
  };
  for (const auto& [data, want] : vectors) {
    EXPECT_EQ(md5HexOf(provider, data.data(), data.size()), want) << data.size();
    EXPECT_EQ(streamed(data, data.size() / 3), want) << data.size();
    Md5Digest d;
    ASSERT_TRUE(md5Of(provider, data.data(), data.size(), &d));
    EXPECT_EQ(toHexUpper(d.data(), d.size()), want);
  }
}

TEST_F(Md5Test, SplitsAroundBlockEdgesAgreeAndFinalStartsANewStream) {
  std::mt19937 rng(7);
  for (size_t len : {55u, 56u, 63u, 64u, 65u, 70000u}) {
    std::string data(len, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    std::string want = md5HexOf(provider, data.data(), data.size());
    for (size_t split : {size_t(0), size_t(1), len - 1, len}) EXPECT_EQ(streamed(data, split), want) << len;
  }
  Md5 reused(provider);
  reused.update("x", 1);
  EXPECT_EQ(reused.finalHex(), "9DD4E461268C8034F5C8564E155C67A6");
  EXPECT_EQ(reused.finalHex(), "D41D8CD98F00B204E9800998ECF8427E");
  reused.update("abc", 3);
  EXPECT_EQ(reused.finalHex(), "900150983CD24FB0D6963F7D28E17F72");
}

TEST(Md5Provider, WithoutAProviderNothingIsHashed) {
  Md5Provider none;
  EXPECT_FALSE(none.valid());
  Md5 md5(none);
  EXPECT_FALSE(md5.update("x", 1));
  EXPECT_EQ(md5.finalHex(), "");
  EXPECT_EQ(md5HexOf(none, "x", 1), "");

  failMd5ProviderForTesting(true);
  std::string error;
  EXPECT_FALSE(none.acquire(&error));
  EXPECT_NE(error.find("MD5 provider"), std::string::npos) << error;
  failMd5ProviderForTesting(false);

  ASSERT_TRUE(none.acquire());
  ASSERT_TRUE(none.acquire());  // held already
  Md5Provider moved = std::move(none);
  EXPECT_FALSE(none.valid());
  EXPECT_EQ(md5HexOf(moved, "abc", 3), "900150983CD24FB0D6963F7D28E17F72");
  moved.release();
  EXPECT_FALSE(moved.valid());
  EXPECT_EQ(md5HexOf(moved, "abc", 3), "");
}

}  // namespace
}  // namespace platform
