#include "release/manifest.h"

#include <sodium.h>

#include <algorithm>
#include <limits>

#include "base/text.h"

using namespace tvl;

namespace release {
namespace {

constexpr std::string_view kSignaturePrefix = "ed25519 ";
constexpr std::string_view kFormatPrefix = "tervalis-release ";
constexpr size_t kSignatureLineSize = kSignaturePrefix.size() + 2 * kPublicKeySize + 1 + 2 * kSignatureSize;

std::string_view originTag(Origin origin) { return origin == Origin::Icons ? "icons" : "update"; }

bool entryLess(const FileEntry& a, const FileEntry& b) {
  if (a.origin != b.origin) return a.origin < b.origin;
  return a.name < b.name;  // std::string compares bytes as unsigned
}

std::string nameProblem(std::string_view name) {
  if (name.empty()) return "empty name";
  if (name.size() > kMaxNameSize) return "name longer than " + std::to_string(kMaxNameSize) + " bytes";
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return "control character in name";
  return "";
}

constexpr uint64_t kMaxI64 = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

// Splits the signature line off; false when the first line is not one.
bool splitSignature(std::string_view bytes, std::string_view* keyHex, std::string_view* sigHex,
                    std::string_view* body) {
  if (bytes.size() < kSignatureLineSize + 1 || bytes.substr(0, kSignaturePrefix.size()) != kSignaturePrefix ||
      bytes[kSignaturePrefix.size() + 2 * kPublicKeySize] != ' ' || bytes[kSignatureLineSize] != '\n')
    return false;
  *keyHex = bytes.substr(kSignaturePrefix.size(), 2 * kPublicKeySize);
  *sigHex = bytes.substr(kSignaturePrefix.size() + 2 * kPublicKeySize + 1, 2 * kSignatureSize);
  *body = bytes.substr(kSignatureLineSize + 1);
  return true;
}

}  // namespace

const FileEntry* Manifest::find(Origin origin, std::string_view name) const {
  FileEntry key;
  key.origin = origin;
  key.name = std::string(name);
  auto it = std::lower_bound(files.begin(), files.end(), key, entryLess);
  return it != files.end() && it->origin == origin && it->name == name ? &*it : nullptr;
}

const char* verdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::Accepted: return "accepted";
    case Verdict::TooLarge: return "too large";
    case Verdict::Unsigned: return "not signed";
    case Verdict::WrongKey: return "signed with another key";
    case Verdict::BadSignature: return "signature does not match";
    case Verdict::UnknownFormat: return "unknown format";
    case Verdict::Malformed: return "malformed";
    case Verdict::Rollback: return "older than the release already installed";
    case Verdict::Expired: return "expired";
  }
  return "";
}

std::string formatManifestBody(const Manifest& manifest) {
  std::vector<const FileEntry*> sorted;
  for (const FileEntry& f : manifest.files) sorted.push_back(&f);
  std::sort(sorted.begin(), sorted.end(), [](const FileEntry* a, const FileEntry* b) { return entryLess(*a, *b); });
  std::string out = std::string(kFormatPrefix) + std::to_string(kManifestFormat) + "\nrelease " +
                    std::to_string(manifest.release) + "\nexpires " + std::to_string(manifest.expires) + "\n";
  for (const FileEntry* f : sorted) {
    out += originTag(f->origin);
    out += '\t' + std::to_string(f->size) + '\t' + toHexLower(f->sha256.data(), f->sha256.size()) + '\t' + f->name;
    out += '\n';
  }
  return out;
}

std::string checkManifest(const Manifest& manifest) {
  if (manifest.release == 0) return "the release number must be 1 or more";
  if (manifest.expires <= 0) return "the expiry time must be after 1970";
  std::vector<const FileEntry*> sorted;
  for (const FileEntry& f : manifest.files) {
    std::string problem = nameProblem(f.name);
    if (!problem.empty()) return std::string(originTag(f.origin)) + " file '" + f.name + "': " + problem;
    sorted.push_back(&f);
  }
  std::sort(sorted.begin(), sorted.end(), [](const FileEntry* a, const FileEntry* b) { return entryLess(*a, *b); });
  for (size_t i = 1; i < sorted.size(); ++i)
    if (!entryLess(*sorted[i - 1], *sorted[i]))
      return std::string(originTag(sorted[i]->origin)) + " file '" + sorted[i]->name + "' is named twice";
  return "";
}

std::string signManifestBody(std::string_view body, const SecretKey& key) {
  sodiumReady();
  unsigned char sig[kSignatureSize];
  crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char*>(body.data()), body.size(),
                       key.bytes.data());
  std::string out =
      std::string(kSignaturePrefix) + publicKeyHex(key.publicKey()) + ' ' + toHexLower(sig, sizeof sig) + '\n';
  out += body;
  return out;
}

bool writeManifest(const Manifest& manifest, const SecretKey& key, std::string* out, std::string* error) {
  *error = checkManifest(manifest);
  if (!error->empty()) return false;
  if (!sodiumReady()) {
    *error = "libsodium cannot start";
    return false;
  }
  std::string body = formatManifestBody(manifest);
  if (body.size() + kSignatureLineSize + 1 > kMaxManifestSize) {
    *error =
        "the release manifest would exceed " + std::to_string(kMaxManifestSize) + " bytes, more than a launcher reads";
    return false;
  }
  *out = signManifestBody(body, key);
  return true;
}

Verdict parseManifestBody(std::string_view body, Manifest* manifest, std::string* detail) {
  *manifest = Manifest();
  Manifest m;
  size_t pos = 0, lineNo = 0;
  std::string_view line;
  auto fail = [&](const std::string& what) {
    *detail = "line " + std::to_string(lineNo + 1) + ": " + what;  // the signature line is line 1
    return Verdict::Malformed;
  };
  auto next = [&]() {
    if (pos >= body.size()) return false;
    size_t nl = body.find('\n', pos);
    if (nl == std::string_view::npos) nl = body.size();
    line = body.substr(pos, nl - pos);
    pos = nl + 1;  // past the end when the last line lacks its LF
    ++lineNo;
    return true;
  };
  if (!next()) return fail("no format line");
  uint64_t n;
  if (line.substr(0, kFormatPrefix.size()) != kFormatPrefix) return fail("no format line");
  if (!tvl::parseDecimal(line.substr(kFormatPrefix.size()), std::numeric_limits<uint64_t>::max(), &n))
    return fail("bad format version");
  if (n != kManifestFormat) {
    *detail = "format " + std::to_string(n) + "; this launcher reads format " + std::to_string(kManifestFormat);
    return Verdict::UnknownFormat;
  }
  if (pos > body.size()) return fail("line not ended");
  if (!next() || line.substr(0, 8) != "release " || !tvl::parseDecimal(line.substr(8), kMaxI64, &m.release) || m.release == 0)
    return fail("expected 'release NUMBER' (1 or more)");
  if (pos > body.size()) return fail("line not ended");
  if (!next() || line.substr(0, 8) != "expires " || !tvl::parseDecimal(line.substr(8), kMaxI64, &n) || n == 0)
    return fail("expected 'expires SECONDS'");
  m.expires = static_cast<int64_t>(n);
  if (pos > body.size()) return fail("line not ended");
  while (next()) {
    if (pos > body.size()) return fail("line not ended");
    FileEntry e;
    size_t t1 = line.find('\t');
    size_t t2 = t1 == std::string_view::npos ? t1 : line.find('\t', t1 + 1);
    size_t t3 = t2 == std::string_view::npos ? t2 : line.find('\t', t2 + 1);
    if (t3 == std::string_view::npos) return fail("expected ORIGIN TAB SIZE TAB SHA256 TAB NAME");
    std::string_view origin = line.substr(0, t1);
    if (origin == "update") {
      e.origin = Origin::Update;
    } else if (origin == "icons") {
      e.origin = Origin::Icons;
    } else {
      return fail("unknown origin");
    }
    if (!tvl::parseDecimal(line.substr(t1 + 1, t2 - t1 - 1), kMaxI64, &e.size)) return fail("bad size");
    if (!parseHexLower(line.substr(t2 + 1, t3 - t2 - 1), e.sha256.data(), e.sha256.size())) return fail("bad SHA-256");
    std::string_view name = line.substr(t3 + 1);
    std::string problem = nameProblem(name);
    if (!problem.empty()) return fail(problem);
    e.name = std::string(name);
    if (!m.files.empty() && !entryLess(m.files.back(), e))
      return fail(m.files.back().origin == e.origin && m.files.back().name == e.name ? "file named twice"
                                                                                     : "files out of order");
    m.files.push_back(std::move(e));
  }
  *manifest = std::move(m);
  detail->clear();
  return Verdict::Accepted;
}

VerifyResult verifyManifest(std::string_view bytes, const std::vector<PublicKey>& keys) {
  VerifyResult r;
  if (bytes.size() > kMaxManifestSize) {
    r.verdict = Verdict::TooLarge;
    r.detail = "more than " + std::to_string(kMaxManifestSize) + " bytes";
    return r;
  }
  std::string_view keyHex, sigHex, body;
  PublicKey signer;
  unsigned char sig[kSignatureSize];
  if (!splitSignature(bytes, &keyHex, &sigHex, &body) || !parsePublicKeyHex(keyHex, &signer) ||
      !parseHexLower(sigHex, sig, sizeof sig)) {
    r.verdict = Verdict::Unsigned;
    r.detail = "the first line is not an Ed25519 signature";
    return r;
  }
  if (std::find(keys.begin(), keys.end(), signer) == keys.end()) {
    r.verdict = Verdict::WrongKey;
    r.detail = "signed with key " + std::string(keyHex) + ", which this launcher does not know";
    return r;
  }
  if (!sodiumReady() || crypto_sign_verify_detached(sig, reinterpret_cast<const unsigned char*>(body.data()),
                                                    body.size(), signer.data()) != 0) {
    r.verdict = Verdict::BadSignature;
    r.detail = "the signature does not match the contents";
    return r;
  }
  r.verdict = parseManifestBody(body, &r.manifest, &r.detail);
  return r;
}

VerifyResult verifyManifest(std::string_view bytes, const PublicKey& key) {
  return verifyManifest(bytes, std::vector<PublicKey>{key});
}

Verdict checkFreshness(const Manifest& manifest, uint64_t newestAccepted, int64_t now) {
  if (manifest.release < newestAccepted) return Verdict::Rollback;
  if (now >= manifest.expires) return Verdict::Expired;
  return Verdict::Accepted;
}

VerifyResult acceptManifest(std::string_view bytes, const std::vector<PublicKey>& keys, uint64_t newestAccepted,
                            int64_t now) {
  VerifyResult r = verifyManifest(bytes, keys);
  if (!r.accepted()) return r;
  r.verdict = checkFreshness(r.manifest, newestAccepted, now);
  if (r.verdict == Verdict::Rollback)
    r.detail = "release " + std::to_string(r.manifest.release) + ", this installation has accepted release " +
               std::to_string(newestAccepted);
  else if (r.verdict == Verdict::Expired)
    r.detail = "expired at " + std::to_string(r.manifest.expires) + ", now is " + std::to_string(now);
  return r;
}

std::string objectName(const Digest& sha256) {
  std::string hex = toHexLower(sha256.data(), sha256.size());
  return "objects/" + hex.substr(0, 2) + "/" + hex;
}

bool hasObjects(const Manifest& manifest, Origin origin) { return manifest.find(origin, kObjectsMarkerName) != nullptr; }

bool readManifestUnchecked(std::string_view bytes, Manifest* manifest) {
  std::string_view keyHex, sigHex, body;
  std::string detail;
  return bytes.size() <= kMaxManifestSize && splitSignature(bytes, &keyHex, &sigHex, &body) &&
         parseManifestBody(body, manifest, &detail) == Verdict::Accepted;
}

uint64_t peekReleaseNumber(std::string_view bytes) {
  Manifest m;
  return readManifestUnchecked(bytes, &m) ? m.release : 0;
}

}  // namespace release
