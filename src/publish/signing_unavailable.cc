// signing.h for builds without libsodium: every request to sign is refused
// with the reason, the rest of the publisher works as before.
#include "publish/signing.h"

namespace publish {
namespace {

const char kWhy[] = "this tervalis-publish was built without libsodium and cannot sign releases";

}  // namespace

struct SigningKey::Impl {};

bool signingAvailable() { return false; }

bool makeSigningKey(const std::string&, std::string*, std::string* error) {
  *error = kWhy;
  return false;
}

SigningKey::SigningKey() = default;
SigningKey::~SigningKey() = default;

bool SigningKey::load(const std::string&, std::string* error) {
  *error = kWhy;
  return false;
}

std::string SigningKey::publicKeyHex() const { return ""; }

bool SigningKey::sign(const ManifestContent&, std::string*, std::string* error) const {
  *error = kWhy;
  return false;
}

bool sha256OfFile(const std::string&, uint64_t, std::string*, std::string* error) {
  *error = kWhy;
  return false;
}

uint64_t servedReleaseNumber(const std::string&) { return 0; }

}  // namespace publish
