// The release manifest reader over arbitrary bytes: no crash or undefined
// behaviour; nothing verifies without the key; a body the strict reader takes
// is exactly what the writer makes of it; and signing a body with the key
// changes nothing about how its contents are judged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "release/manifest.h"

namespace {

// Made when the fuzzer starts, never stored.
const release::SecretKey& key() {
  static const release::SecretKey k = [] {
    release::SecretKey made;
    if (!release::generateKey(&made)) std::abort();
    return made;
  }();
  return k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const release::PublicKey publicKey = key().publicKey();

  release::VerifyResult r = release::acceptManifest(bytes, {publicKey}, 5, 1000);
  if (r.accepted() || r.verdict == release::Verdict::Rollback || r.verdict == release::Verdict::Expired)
    std::abort();  // the input was not signed with this key
  if (r.detail.empty() || !r.manifest.files.empty()) std::abort();
  release::peekReleaseNumber(bytes);

  release::Manifest m;
  std::string detail;
  release::Verdict parsed = release::parseManifestBody(bytes, &m, &detail);
  if (parsed == release::Verdict::Accepted) {
    if (release::formatManifestBody(m) != bytes || !release::checkManifest(m).empty()) std::abort();
    for (const release::FileEntry& e : m.files)
      if (m.find(e.origin, e.name) != &e) std::abort();
  } else if (detail.empty() || !m.files.empty() || m.release != 0) {
    std::abort();
  }

  std::string signedBytes = release::signManifestBody(bytes, key());
  release::VerifyResult s = release::verifyManifest(signedBytes, publicKey);
  release::Verdict expected = signedBytes.size() > release::kMaxManifestSize ? release::Verdict::TooLarge : parsed;
  if (s.verdict != expected) std::abort();
  if (s.accepted() && (s.manifest.release != m.release || s.manifest.files.size() != m.files.size())) std::abort();
  return 0;
}
