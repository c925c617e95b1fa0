#include "publish/md5.h"

#include <gtest/gtest.h>

#include <random>

#include "publish/md5_portable.h"

namespace publish {
namespace {

std::string portableHex(const std::string& data, size_t split) {
  PortableMd5 m;
  m.update(data.data(), split);
  m.update(data.data() + split, data.size() - split);
  unsigned char d[16];
  m.finish(d);
  return toHexUpper(d, 16);
}

TEST(Md5, Rfc1321VectorsOnBothBackends) {
  const char* vectors[][2] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  for (auto& v : vectors) {
    Md5 m;
    m.update(v[0], std::string(v[0]).size());
    EXPECT_EQ(m.hexDigest(), v[1]) << v[0];
    EXPECT_EQ(portableHex(v[0], 0), v[1]) << v[0];
  }
}

TEST(Md5, ChunkingAndPaddingBoundariesAgreeWithTheBackend) {
  std::mt19937 rng(7);
  // Lengths around the 56- and 64-byte padding edges, split anywhere.
  for (size_t len : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u, 70000u}) {
    std::string data(len, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    Md5 whole;
    whole.update(data.data(), data.size());
    std::string want = whole.hexDigest();
    for (size_t split : {size_t(0), size_t(1), len / 3, len - 1, len})
      EXPECT_EQ(portableHex(data, split), want) << len << "/" << split;
  }
  Md5 reused;  // hexDigest resets
  reused.update("x", 1);
  reused.hexDigest();
  EXPECT_EQ(reused.hexDigest(), "D41D8CD98F00B204E9800998ECF8427E");
}

}  // namespace
}  // namespace publish
