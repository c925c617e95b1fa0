// The signed release on the launcher's side. A launcher built with the
// publisher's public key (TVL_RELEASE_PUBLIC_KEY) fetches the release
// manifest (release.sig) before anything else and refuses it when it is
// missing, not signed with a known key, older than the newest release this
// installation accepted, or expired. Every list and file fetched afterwards
// must be named by it and arrive with exactly its size and SHA-256 before it
// is parsed, unpacked or moved into place. Without a key nothing of this
// happens: the run fetches exactly what it always has.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/connection.h"
#include "base/status.h"
#include "release/manifest.h"
#include "transfer/download.h"

namespace tvl {


struct Updater;

// The keys this launcher was built with; empty when it has none.
std::vector<release::PublicKey> builtInReleaseKeys();

// Seconds since 1970 UTC by the computer's clock.
int64_t secondsSince1970();

enum class ReleaseProblem {
  kNone,
  kMissing,      // release.sig could not be fetched (status says why)
  kNotSigned,    // unsigned, altered, larger than any manifest, or malformed
  kOtherKey,     // signed with a key this launcher does not know
  kNewerFormat,  // validly signed in a format this launcher does not read
  kRollback,     // older than the newest release this installation accepted
  kExpired,      // past its expiry time (expires)
};

struct ReleaseRefusal {
  ReleaseProblem problem = ReleaseProblem::kNone;
  Status status;         // kMissing: the failed transfer
  int64_t expires = 0;   // kExpired: seconds since 1970 UTC
  std::string detail;    // what exactly, for the curious
  bool refused() const { return problem != ReleaseProblem::kNone; }
};

// One run's view of the signed release.
class SignedRelease {
 public:
  // Off when updater.releaseKeys is empty.
  explicit SignedRelease(Updater& updater);

  bool enabled() const { return enabled_; }

  // Fetches the manifest from the update server and judges it; an accepted
  // one newer than the installation's is recorded as its newest. Off: does
  // nothing. Nothing else is fetched or installed either way.
  ReleaseRefusal start(DownloadSession& session);

  // Whether a list of that name may be fetched from source: a signed release
  // that does not name it has no such list.
  bool names(const ServerLocation& source, const std::string& name) const;

  // The check a body fetched as name from source must pass; nullptr when
  // releases are not signed or the manifest does not name it (names()
  // tells).
  std::unique_ptr<BodyCheck> checkFor(const ServerLocation& source, const std::string& name) const;

  // True when the staged file at path is exactly what the manifest names as
  // name on source (or when releases are not signed).
  bool matchesStaged(const ServerLocation& source, const std::string& name, const std::string& path) const;

  // downloadFile, held to the manifest: a name it does not list is refused
  // unfetched, and a body must match its entry before it is installed.
  // Refusals fail with kFetchErrorRefused and refused set.
  FetchResult download(DownloadSession& session, const ServerLocation& source, const std::string& name,
                       bool isArchive, const std::string& destDir);

 private:
  release::Origin originOf(const ServerLocation& source) const;

  Updater& updater_;
  bool enabled_;
  release::Manifest manifest_;
};

}  // namespace tvl
