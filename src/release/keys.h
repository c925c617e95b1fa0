// Ed25519 keys of the release manifest (libsodium).
//
// The secret key file is text, three LF-ended lines:
//   tervalis-release-secret-key 1
//   seed <64 hex digits>        the 32-byte seed the key pair is made from
//   public <64 hex digits>      its public key, for reading without the tool
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace release {

constexpr size_t kPublicKeySize = 32;
constexpr size_t kSecretKeySize = 64;
constexpr size_t kSignatureSize = 64;

using PublicKey = std::array<unsigned char, kPublicKeySize>;

// libsodium's form (seed followed by the public key); wiped when destroyed.
struct SecretKey {
  std::array<unsigned char, kSecretKeySize> bytes{};
  SecretKey() = default;
  SecretKey(const SecretKey&) = default;
  SecretKey& operator=(const SecretKey&) = default;
  ~SecretKey();
  PublicKey publicKey() const;
};

// False only when libsodium cannot start (no source of randomness).
bool sodiumReady();

// A new key pair from the system's randomness.
bool generateKey(SecretKey* key);

// 64 lower-case hex digits.
std::string publicKeyHex(const PublicKey& key);
bool parsePublicKeyHex(std::string_view text, PublicKey* key);
// The launcher's build option: keys separated by commas (more than one only
// while a key is being replaced). Empty text gives no keys; false for
// anything malformed.
bool parsePublicKeyList(std::string_view text, std::vector<PublicKey>* keys);

std::string formatSecretKeyFile(const SecretKey& key);
// False with a reason for anything but a file formatSecretKeyFile wrote.
bool parseSecretKeyFile(const std::string& text, SecretKey* key, std::string* error);

}  // namespace release
