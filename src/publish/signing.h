// Release signing for the publisher: the key file and the signed release
// manifest (release formats, libsodium).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace publish {

// Served beside files.txt; the same name as release::kManifestName.
constexpr char kManifestName[] = "release.sig";

// Makes a new key pair, writes its secret key to `path` (owner-only, never
// over an existing file) and gives the public key as hex.
bool makeSigningKey(const std::string& path, std::string* publicKeyHex, std::string* error);

struct ManifestFile {
  bool icon = false;  // served below icons_path (else update_path)
  std::string name;   // as requested
  uint64_t size = 0;
  std::string sha256;  // lower-case hex
};

struct ManifestContent {
  uint64_t release = 0;
  int64_t expires = 0;
  std::vector<ManifestFile> files;
};

class SigningKey {
 public:
  SigningKey();
  ~SigningKey();
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;

  bool load(const std::string& path, std::string* error);
  bool loaded() const { return impl_ != nullptr; }
  std::string publicKeyHex() const;
  // The whole signed manifest text.
  bool sign(const ManifestContent& content, std::string* out, std::string* error) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// SHA-256 (lower-case hex) of a file that must have `size` bytes.
bool sha256OfFile(const std::string& path, uint64_t size, std::string* hex, std::string* error);

// The release number of the manifest at `path`, or 0 when there is none
// that reads. Its signature is not checked: the number only bounds the next.
uint64_t servedReleaseNumber(const std::string& path);

}  // namespace publish
