#include "release/keys.h"

#include <sodium.h>

#include "base/text.h"

using namespace tvl;

namespace release {
namespace {

constexpr char kMagic[] = "tervalis-release-secret-key 1";
static_assert(crypto_sign_PUBLICKEYBYTES == kPublicKeySize, "Ed25519 public key");
static_assert(crypto_sign_SECRETKEYBYTES == kSecretKeySize, "Ed25519 secret key");
static_assert(crypto_sign_BYTES == kSignatureSize, "Ed25519 signature");

}  // namespace

SecretKey::~SecretKey() { sodium_memzero(bytes.data(), bytes.size()); }

PublicKey SecretKey::publicKey() const {
  PublicKey pk;
  crypto_sign_ed25519_sk_to_pk(pk.data(), bytes.data());
  return pk;
}

bool sodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

bool generateKey(SecretKey* key) {
  if (!sodiumReady()) return false;
  PublicKey pk;
  return crypto_sign_keypair(pk.data(), key->bytes.data()) == 0;
}

std::string publicKeyHex(const PublicKey& key) { return toHexLower(key.data(), key.size()); }

bool parsePublicKeyHex(std::string_view text, PublicKey* key) {
  return parseHexLower(text, key->data(), key->size());
}

bool parsePublicKeyList(std::string_view text, std::vector<PublicKey>* keys) {
  keys->clear();
  while (!text.empty()) {
    size_t comma = text.find(',');
    PublicKey k;
    if (!parsePublicKeyHex(text.substr(0, comma), &k) || comma == text.size() - 1) return false;
    keys->push_back(k);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return true;
}

std::string formatSecretKeyFile(const SecretKey& key) {
  std::string out = std::string(kMagic) + "\nseed ";
  out += toHexLower(key.bytes.data(), crypto_sign_SEEDBYTES);
  out += "\npublic " + publicKeyHex(key.publicKey()) + "\n";
  return out;
}

bool parseSecretKeyFile(const std::string& text, SecretKey* key, std::string* error) {
  const std::string head = std::string(kMagic) + "\nseed ";
  const size_t seedHex = 2 * crypto_sign_SEEDBYTES;
  const size_t expected = head.size() + seedHex + 8 + 2 * kPublicKeySize + 1;
  if (text.size() != expected || text.compare(0, head.size(), head) != 0 ||
      text.compare(head.size() + seedHex, 8, "\npublic ") != 0 || text.back() != '\n') {
    *error = "not a release secret key file (made by 'tervalis-publish keygen')";
    return false;
  }
  if (!sodiumReady()) {
    *error = "libsodium cannot start";
    return false;
  }
  unsigned char seed[crypto_sign_SEEDBYTES];
  PublicKey claimed, pk;
  bool ok = parseHexLower(std::string_view(text).substr(head.size(), seedHex), seed, sizeof seed) &&
            parsePublicKeyHex(std::string_view(text).substr(head.size() + seedHex + 8, 2 * kPublicKeySize), &claimed);
  ok = ok && crypto_sign_seed_keypair(pk.data(), key->bytes.data(), seed) == 0;
  sodium_memzero(seed, sizeof seed);
  if (!ok) {
    *error = "the release secret key file is damaged";
    return false;
  }
  if (pk != claimed) {
    *error = "the release secret key file is damaged: its public key does not belong to its seed";
    return false;
  }
  return true;
}

}  // namespace release
