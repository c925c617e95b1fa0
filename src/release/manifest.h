// The signed release manifest ("release.sig", served beside files.txt): what
// one release consists of, file by file, with size and SHA-256, signed with
// the publisher's Ed25519 key. docs/serving.md describes it for operators.
//
// Text with LF line ends, at most kMaxManifestSize bytes:
//
//   ed25519 <public key: 64 hex> <signature: 128 hex>      not signed
//   tervalis-release 1                                     signed from here
//   release <number>
//   expires <seconds since 1970-01-01 UTC>
//   <origin> TAB <size> TAB <sha256: 64 hex> TAB <name>    one per file
//
// The signature covers every byte after the first line. The first line keeps
// this form in every format version, so that a launcher can check the
// signature of a format it does not know and say so. Origin is "update"
// (update_server + update_path) or "icons" (icons_server + icons_path); name
// is what the launcher appends to that path: "files.txt" or
// "clan_icons_list.txt" for the lists, the list entry's name for a file.
// Size and digest are of the bytes served (the archive for a game file).
// Numbers are decimal without leading zeros, hex is lower case, file lines
// are sorted by origin, then name (bytes compared unsigned) without
// duplicates: every manifest has exactly one spelling.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "release/keys.h"
#include "release/sha256.h"

namespace release {

constexpr char kManifestName[] = "release.sig";
constexpr uint32_t kManifestFormat = 1;
// Some 60000 files; the launcher holds the manifest in memory.
constexpr size_t kMaxManifestSize = 16 * 1024 * 1024;
constexpr size_t kMaxNameSize = 259;

// Signed trees also serve every file under an address made of its SHA-256,
// objects/<first 2 hex>/<64 hex> below the origin's path, whose bytes never
// change. An origin has them when the manifest names its marker file there;
// trees published before that have none and are read by name.
constexpr char kObjectsMarkerName[] = "objects/format";
constexpr char kObjectsMarkerText[] = "tervalis-objects 1\n";

enum class Origin { Icons, Update };  // in manifest order ("icons" < "update")

struct FileEntry {
  Origin origin = Origin::Update;
  std::string name;
  uint64_t size = 0;
  Digest sha256{};
};

struct Manifest {
  uint64_t release = 0;          // 1 or more
  int64_t expires = 0;           // seconds since 1970 UTC; refused from then on
  std::vector<FileEntry> files;  // sorted as in the text once read

  // The entry the launcher may fetch as origin + name (exact bytes), or
  // null. Needs the order a read manifest has.
  const FileEntry* find(Origin origin, std::string_view name) const;
};

enum class Verdict {
  Accepted,
  TooLarge,       // more than kMaxManifestSize bytes
  Unsigned,       // no signature line
  WrongKey,       // signed with another key than the launcher's
  BadSignature,   // the signature does not match the bytes: altered
  UnknownFormat,  // validly signed, in a format version this launcher does not read
  Malformed,      // validly signed, but not a well-formed manifest
  Rollback,       // older than the newest release this installation accepted
  Expired,        // past its expiry time
};

// Short English name of a verdict, for logs.
const char* verdictName(Verdict verdict);

struct VerifyResult {
  Verdict verdict = Verdict::Malformed;
  std::string detail;  // what exactly, for logs and messages
  Manifest manifest;   // filled when the bytes verified and parsed
  bool accepted() const { return verdict == Verdict::Accepted; }
};

// The signed text of a manifest: sorts a copy of the files. The caller
// ensures what checkManifest checks.
std::string formatManifestBody(const Manifest& manifest);

// Why the manifest cannot be written, or "" (bad numbers, names, duplicates).
std::string checkManifest(const Manifest& manifest);

// The signature line for body, followed by body.
std::string signManifestBody(std::string_view body, const SecretKey& key);

// The whole file: signature line and body. False with a message when
// checkManifest refuses or the result would exceed kMaxManifestSize.
bool writeManifest(const Manifest& manifest, const SecretKey& key, std::string* out, std::string* error);

// Reads the signed part alone, without any signature: Accepted, UnknownFormat
// or Malformed. Exactly what formatManifestBody writes is accepted.
Verdict parseManifestBody(std::string_view body, Manifest* manifest, std::string* detail);

// Checks size, signature and form, in that order, with the launcher's key
// (or any of its keys while one is being replaced).
VerifyResult verifyManifest(std::string_view bytes, const std::vector<PublicKey>& keys);
VerifyResult verifyManifest(std::string_view bytes, const PublicKey& key);

// After verification: Rollback when the manifest's release is older than
// newestAccepted (0: none yet), Expired when now (seconds since 1970 UTC) has
// reached its expiry, else Accepted. The same release again is accepted.
Verdict checkFreshness(const Manifest& manifest, uint64_t newestAccepted, int64_t now);

// verifyManifest, then checkFreshness.
VerifyResult acceptManifest(std::string_view bytes, const std::vector<PublicKey>& keys, uint64_t newestAccepted,
                            int64_t now);

// Where the object with that digest is served, relative to its origin's path.
std::string objectName(const Digest& sha256);

// Whether the manifest says the origin serves objects.
bool hasObjects(const Manifest& manifest, Origin origin);

// A manifest's files without checking its signature; false when it does not
// read. Only for the publisher's own copies of earlier releases.
bool readManifestUnchecked(std::string_view bytes, Manifest* manifest);

// The release number of a manifest's text without checking its signature,
// or 0. Only for choosing the next number when publishing.
uint64_t peekReleaseNumber(std::string_view bytes);

}  // namespace release
