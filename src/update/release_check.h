// The signed release on the launcher's side. A launcher built with the
// publisher's public key (TVL_RELEASE_PUBLIC_KEY) fetches the release
// manifest (release.sig) before anything else and refuses it when it is
// missing, not signed with a known key, older than the newest release this
// installation accepted, or expired. Every list and file fetched afterwards
// must be named by it and arrive with exactly its size and SHA-256 before it
// is parsed, unpacked or moved into place. Without a key nothing of this
// happens: the run fetches exactly what it always has.
//
// Where the accepted manifest says an origin serves objects, every file is
// fetched by its digest (objects/<2 hex>/<sha256>), an address whose bytes
// never change, and, when that fails (no connection, an error status, a body
// the manifest refuses), from the servers of "update_mirrors" in turn. The
// manifest comes from the update server, and from a mirror only when that
// server cannot be reached.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/connection.h"
#include "base/status.h"
#include "release/manifest.h"
#include "transfer/download.h"
#include "transfer/resilient_fetch.h"

namespace tvl {


struct Updater;

// The keys this launcher was built with; empty when it has none.
std::vector<release::PublicKey> builtInReleaseKeys();

// The release this launcher was built for: what a damaged record of the
// newest accepted release counts as.
uint64_t builtInReleaseFloor();

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
  kRecordUnreadable,  // the record of accepted releases is there but could not be read (detail: its path)
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

  // Fetches the manifest from the update server and judges it against the
  // newest release this installation recorded. Off: does nothing. Nothing
  // else is fetched or installed either way.
  ReleaseRefusal start(DownloadSession& session);

  // Every file of the accepted release is in place: it becomes the newest
  // recorded, unless the record holds it already (never lowered). A run
  // that ended early records nothing.
  void recordInstalled();

  // Whether a list of that name may be fetched from source: a signed release
  // that does not name it has no such list.
  bool names(const ServerLocation& source, const std::string& name) const;

  // The check a body fetched as name from source must pass; nullptr when
  // releases are not signed or the manifest does not name it (names()
  // tells).
  std::unique_ptr<BodyCheck> checkFor(const ServerLocation& source, const std::string& name) const;

  // What is requested for name from source: its object where the origin
  // serves objects, else the name itself.
  std::string requestName(const ServerLocation& source, const std::string& name) const;

  // The servers name may come from, in the order they are tried: source,
  // then the mirrors, unless the manifest says the origin serves no objects.
  std::vector<const ServerLocation*> serversFor(const ServerLocation& source) const;

  // A server that could not be reached is tried last for the rest of the run.
  void markUnreachable(const ServerLocation& server) const;
  bool unreachable(const ServerLocation& server) const;

 private:
  release::Origin originOf(const ServerLocation& source) const;
  ReleaseRefusal judge(const std::string& bytes);

  Updater& updater_;
  bool enabled_;
  bool recordDue_ = false;
  release::Manifest manifest_;
  std::vector<ServerLocation> updateMirrors_, iconsMirrors_;
  mutable std::mutex downLock_;
  mutable std::set<std::string> down_;
};

// Whether a failed transfer says the server could not be reached at all.
bool serverUnreachable(const FetchResult& result);

// The one road every list, file, patch list and patch of a run takes into
// session.tempFile: retried and resumed by the run's policy and, with a
// signed release, held to the manifest as it arrives: a name it does not
// list is refused unrequested, a body announced with another size is
// refused unread, no byte beyond the named size is written, and the SHA-256
// is compared at the end (kFetchErrorRefused, refused set). A body
// assembled from several transfers is proved whole before it counts: the
// zip's CRC-32 when packed, else the MD5 of target.digest when it has one.
// release may be null (nothing signed).
FetchResult fetchChecked(Updater& updater, const SignedRelease* release, DownloadSession& session,
                         const ServerLocation& source, const std::string& name, const FetchTarget& target);

}  // namespace tvl
