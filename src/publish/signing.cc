#include "publish/signing.h"

#include <algorithm>
#include <string_view>

#include "base/text.h"
#include "platform/fs.h"
#include "publish/pack.h"
#include "release/manifest.h"

using namespace tvl;

namespace publish {

static_assert(std::string_view(kManifestName) == release::kManifestName, "one manifest name");

struct SigningKey::Impl {
  release::SecretKey key;
};

bool makeSigningKey(const std::string& path, std::string* publicKeyHex, std::string* error) {
  release::SecretKey key;
  if (!release::generateKey(&key)) {
    *error = "cannot make a key: libsodium did not start";
    return false;
  }
  std::string text = release::formatSecretKeyFile(key);
  bool ok = platform::createPrivateFile(path, text, error);
  std::fill(text.begin(), text.end(), '\0');
  if (ok) *publicKeyHex = release::publicKeyHex(key.publicKey());
  return ok;
}

SigningKey::SigningKey() = default;
SigningKey::~SigningKey() = default;

bool SigningKey::load(const std::string& path, std::string* error) {
  impl_.reset();
  std::string text;
  if (!readWholeFile(path, &text)) {
    *error = "cannot read the signing key " + path + ": " + platform::errnoText();
    return false;
  }
  auto impl = std::make_unique<Impl>();
  std::string problem;
  bool ok = release::parseSecretKeyFile(text, &impl->key, &problem);
  std::fill(text.begin(), text.end(), '\0');
  if (!ok) {
    *error = path + ": " + problem;
    return false;
  }
  impl_ = std::move(impl);
  return true;
}

std::string SigningKey::publicKeyHex() const {
  return impl_ ? release::publicKeyHex(impl_->key.publicKey()) : std::string();
}

bool SigningKey::sign(const ManifestContent& content, std::string* out, std::string* error) const {
  if (!impl_) {
    *error = "no signing key";
    return false;
  }
  release::Manifest m;
  m.release = content.release;
  m.expires = content.expires;
  for (const ManifestFile& f : content.files) {
    release::FileEntry e;
    e.origin = f.icon ? release::Origin::Icons : release::Origin::Update;
    e.name = f.name;
    e.size = f.size;
    if (!parseHexLower(f.sha256, e.sha256.data(), e.sha256.size())) {
      *error = "no SHA-256 known for " + f.name;
      return false;
    }
    m.files.push_back(std::move(e));
  }
  return release::writeManifest(m, impl_->key, out, error);
}

bool sha256OfFile(const std::string& path, uint64_t size, std::string* hex, std::string* error) {
  release::Digest d;
  uint64_t got = 0;
  if (!release::sha256File(path, &d, &got, error)) return false;
  if (got != size) {
    *error = path + " changed while it was being published; run again";
    return false;
  }
  *hex = toHexLower(d.data(), d.size());
  return true;
}

uint64_t servedReleaseNumber(const std::string& path) {
  std::string text;
  if (!readWholeFile(path, &text)) return 0;
  return release::peekReleaseNumber(text);
}

}  // namespace publish
