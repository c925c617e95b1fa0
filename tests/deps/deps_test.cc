// The Windows build compiles libsodium and libzstd from source with our own
// flags; known answers catch a library that builds but computes wrongly.
#include <sodium.h>
#include <zstd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<unsigned char> fromHex(const char* hex) {
  std::vector<unsigned char> out(std::char_traits<char>::length(hex) / 2);
  size_t len = 0;
  EXPECT_EQ(0, sodium_hex2bin(out.data(), out.size(), hex, std::char_traits<char>::length(hex), nullptr, &len, nullptr));
  out.resize(len);
  return out;
}

class Sodium : public testing::Test {
 protected:
  void SetUp() override { ASSERT_GE(sodium_init(), 0); }
};

TEST_F(Sodium, Ed25519MatchesPublishedVector) {
  // RFC 8032, section 7.1, test 1 (empty message).
  auto seed = fromHex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
  auto pk = fromHex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
  auto sig = fromHex(
      "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b");
  unsigned char madePk[crypto_sign_PUBLICKEYBYTES], sk[crypto_sign_SECRETKEYBYTES], madeSig[crypto_sign_BYTES];
  ASSERT_EQ(0, crypto_sign_seed_keypair(madePk, sk, seed.data()));
  EXPECT_EQ(pk, std::vector<unsigned char>(madePk, madePk + sizeof madePk));
  ASSERT_EQ(0, crypto_sign_detached(madeSig, nullptr, nullptr, 0, sk));
  EXPECT_EQ(sig, std::vector<unsigned char>(madeSig, madeSig + sizeof madeSig));
}

TEST_F(Sodium, SignatureVerifiesAndAnyChangeIsRefused) {
  unsigned char pk[crypto_sign_PUBLICKEYBYTES], sk[crypto_sign_SECRETKEYBYTES], sig[crypto_sign_BYTES];
  crypto_sign_keypair(pk, sk);
  std::string msg = "release 7\nfiles.txt 1234\n";
  auto data = [&] { return reinterpret_cast<const unsigned char*>(msg.data()); };
  crypto_sign_detached(sig, nullptr, data(), msg.size(), sk);
  EXPECT_EQ(0, crypto_sign_verify_detached(sig, data(), msg.size(), pk));
  msg[8] = '8';
  EXPECT_NE(0, crypto_sign_verify_detached(sig, data(), msg.size(), pk));
  msg[8] = '7';
  sig[10] ^= 1;
  EXPECT_NE(0, crypto_sign_verify_detached(sig, data(), msg.size(), pk));
}

TEST_F(Sodium, Sha256MatchesPublishedDigestInPieces) {
  // FIPS 180-2 example: "abc".
  crypto_hash_sha256_state st;
  crypto_hash_sha256_init(&st);
  crypto_hash_sha256_update(&st, reinterpret_cast<const unsigned char*>("a"), 1);
  crypto_hash_sha256_update(&st, reinterpret_cast<const unsigned char*>("bc"), 2);
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256_final(&st, digest);
  EXPECT_EQ(fromHex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"),
            std::vector<unsigned char>(digest, digest + sizeof digest));
}

TEST(Zstd, ReadsFrameMadeByZstdCommandAndRefusesDamage) {
  // printf '0123456789%.0s' {1..20} | zstd -19 (with checksum).
  std::vector<unsigned char> frame = {0x28, 0xb5, 0x2f, 0xfd, 0x04, 0x68, 0x8d, 0x00, 0x00, 0x50,
                                      0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39,
                                      0x01, 0x00, 0xbb, 0x52, 0x05, 0x09, 0x7e, 0x4c, 0x55, 0xc1};
  std::string expected;
  for (int i = 0; i < 20; ++i) expected += "0123456789";
  std::string out(400, '\0');
  size_t n = ZSTD_decompress(&out[0], out.size(), frame.data(), frame.size());
  ASSERT_FALSE(ZSTD_isError(n)) << ZSTD_getErrorName(n);
  EXPECT_EQ(expected, out.substr(0, n));
  frame[frame.size() - 1] ^= 1;  // checksum
  EXPECT_TRUE(ZSTD_isError(ZSTD_decompress(&out[0], out.size(), frame.data(), frame.size())));
}

TEST(Zstd, PatchAgainstOldVersionRoundTripsAndIsSmall) {
  std::string oldData;
  for (int i = 0; oldData.size() < 1 << 20; ++i) oldData += std::to_string(i * 2654435761u) + ",";
  std::string newData = oldData;
  newData.replace(300000, 5, "CHANGED");
  newData.insert(700000, "inserted text");

  ZSTD_CCtx* c = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1);
  ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, 22);
  ASSERT_FALSE(ZSTD_isError(ZSTD_CCtx_refPrefix(c, oldData.data(), oldData.size())));
  std::string patch(ZSTD_compressBound(newData.size()), '\0');
  size_t patchSize = ZSTD_compress2(c, &patch[0], patch.size(), newData.data(), newData.size());
  ZSTD_freeCCtx(c);
  ASSERT_FALSE(ZSTD_isError(patchSize)) << ZSTD_getErrorName(patchSize);
  EXPECT_LT(patchSize, 1000u);

  ZSTD_DCtx* d = ZSTD_createDCtx();
  ZSTD_DCtx_refPrefix(d, oldData.data(), oldData.size());
  std::string out(newData.size() + 16, '\0');
  size_t n = ZSTD_decompressDCtx(d, &out[0], out.size(), patch.data(), patchSize);
  ZSTD_freeDCtx(d);
  ASSERT_FALSE(ZSTD_isError(n)) << ZSTD_getErrorName(n);
  EXPECT_TRUE(out.substr(0, n) == newData);
}

}  // namespace
