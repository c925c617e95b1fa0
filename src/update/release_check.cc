#include "update/release_check.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <algorithm>
#include <memory>
#include <thread>

#include "platform/fs.h"
#include "release/accepted_release.h"
#include "release/sha256.h"
#include "transfer/archive.h"
#include "base/server_address.h"
#include "transfer/http.h"
#include "transfer/paths.h"
#include "transfer/support_log.h"
#include "update/updater.h"

namespace tvl {


namespace {

constexpr int kRecordReadAttempts = 10;
constexpr auto kRecordReadPause = std::chrono::milliseconds(200);

// The manifest itself: any size up to the largest a launcher reads.
class ManifestSizeCheck : public BodyCheck {
 public:
  bool announced(int64_t contentLength) override {
    tooLarge_ = static_cast<uint64_t>(contentLength) > release::kMaxManifestSize;
    return !tooLarge_;
  }
  bool received(const char*, size_t size) override {
    received_ += size;
    tooLarge_ = received_ > release::kMaxManifestSize;
    return !tooLarge_;
  }
  bool complete() override { return true; }
  void restart() override {
    received_ = 0;
    tooLarge_ = false;
  }
  bool tooLarge() const { return tooLarge_; }

 private:
  uint64_t received_ = 0;
  bool tooLarge_ = false;
};

// One list or file: exactly the size and SHA-256 its entry names. A body
// announced with any other length is refused unread.
class EntryCheck : public BodyCheck {
 public:
  explicit EntryCheck(const release::FileEntry& entry)
      : size_(entry.size), digest_(entry.sha256), check_(entry.size, entry.sha256) {}
  void restart() override { check_ = release::ReceiveCheck(size_, digest_); }
  bool announced(int64_t contentLength) override {
    return contentLength >= 0 && static_cast<uint64_t>(contentLength) == size_;
  }
  bool received(const char* data, size_t size) override { return check_.feed(data, size); }
  bool complete() override { return check_.finish() == release::ReceiveCheck::Result::Match; }

 private:
  uint64_t size_;
  decltype(release::FileEntry::sha256) digest_;
  release::ReceiveCheck check_;
};

// A body assembled from several transfers is the one named only when it
// reads whole.
bool proveWhole(const std::string& path, const FetchTarget& target, void* context) {
  if (target.packed) return archiveIsIntact(path);
  if (target.digest.empty()) return true;  // the caller proves what it builds from it
  auto* updater = static_cast<Updater*>(context);
  platform::File file = platform::File::openExclusiveRead(path);
  uint64_t size = 0;
  if (!file.valid() || !file.size(&size) || size == 0) return false;
  platform::MappedView view = platform::MappedView::map(file, size);
  return view.valid() && platform::md5HexOf(updater->cryptProvider, view.data(), view.size()) == target.digest;
}

bool readWholeFile(const std::string& path, std::string* bytes) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(platform::nativePath(path).c_str(), "rb"),
                                                   std::fclose);
  if (!f) return false;
  bytes->clear();
  char buf[64 * 1024];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f.get())) > 0) bytes->append(buf, got);
  return !std::ferror(f.get());
}

ReleaseProblem problemOf(release::Verdict verdict) {
  switch (verdict) {
    case release::Verdict::Accepted: return ReleaseProblem::kNone;
    case release::Verdict::WrongKey: return ReleaseProblem::kOtherKey;
    case release::Verdict::UnknownFormat: return ReleaseProblem::kNewerFormat;
    case release::Verdict::Rollback: return ReleaseProblem::kRollback;
    case release::Verdict::Expired: return ReleaseProblem::kExpired;
    case release::Verdict::TooLarge:
    case release::Verdict::Unsigned:
    case release::Verdict::BadSignature:
    case release::Verdict::Malformed: break;
  }
  return ReleaseProblem::kNotSigned;
}

// The manifest from one server, whole, into bytes.
FetchResult fetchManifest(DownloadSession& session, const ServerLocation& from, std::string* bytes, bool* tooLarge) {
  ManifestSizeCheck sizeCheck;
  session.check = &sizeCheck;
  HttpRequest request = buildDownloadRequest(session.game, from, release::kManifestName);
  FetchResult fetched = fetchToTempFile(session, request);
  session.check = nullptr;
  bool read = fetched.ok() && readWholeFile(session.tempFile, bytes);
  platform::removeFile(session.tempFile);
  *tooLarge = sizeCheck.tooLarge();
  if (fetched.ok() && !read) fetched.status = Status::error(EIO, request.objectPath);
  return fetched;
}

ReleaseRefusal tooLargeRefusal() {
  ReleaseRefusal refusal;
  refusal.problem = ReleaseProblem::kNotSigned;
  refusal.detail = "larger than any release manifest";
  return refusal;
}

// A failure another server may not have: it answered with an error status,
// sent what the manifest refuses, or could not be reached or understood.
// Not one of this computer (a full disk).
bool serverFault(const FetchResult& r) {
  return r.errorStatus || r.refused || (r.status.code() >= 12000 && r.status.code() < 12200);
}

// Where the newest accepted release number is kept: the staging folder
// data\update\, which no update removes.
std::string acceptedReleasePath() { return dataPath("update\\") + release::kAcceptedReleaseName; }

}  // namespace

int64_t secondsSince1970() { return static_cast<int64_t>(std::time(nullptr)); }

SignedRelease::SignedRelease(Updater& updater) : updater_(updater), enabled_(!updater.releaseKeys.empty()) {
  if (!enabled_) return;
  for (const MirrorAddress& m : parseMirrorList(updater.options.mirrors)) {
    updateMirrors_.push_back({m.server, m.prefix + updater.updateSource.path});
    iconsMirrors_.push_back({m.server, m.prefix + updater.iconsSource.path});
  }
}

ReleaseRefusal SignedRelease::start(DownloadSession& session) {
  ReleaseRefusal refusal;
  if (!enabled_) return refusal;
  session.progress.setCurrentFile(release::kManifestName);
  session.progress.notify();
  std::string bytes;
  bool tooLarge = false;
  FetchResult fetched = fetchManifest(session, updater_.updateSource, &bytes, &tooLarge);
  if (tooLarge) return tooLargeRefusal();
  if (fetched.ok()) return judge(bytes);
  refusal.problem = ReleaseProblem::kMissing;
  refusal.status = fetched.status;
  if (!serverUnreachable(fetched) || updateMirrors_.empty()) return refusal;
  // Only when the update server cannot be reached at all: one that answers
  // speaks for the release, and a mirror may lag behind it. A mirror's
  // manifest is judged like the server's, so it is never older than the
  // release this installation accepted.
  markUnreachable(updater_.updateSource);
  ReleaseRefusal firstRefused;
  for (const ServerLocation& mirror : updateMirrors_) {
    FetchResult r = fetchManifest(session, mirror, &bytes, &tooLarge);
    if (!tooLarge && !r.ok()) {
      if (serverUnreachable(r)) markUnreachable(mirror);
      continue;
    }
    ReleaseRefusal verdict = tooLarge ? tooLargeRefusal() : judge(bytes);
    supportLog().note(std::string(release::kManifestName) + " from " + mirror.host + ": " +
                      (verdict.refused() ? "refused, " + verdict.detail : "accepted"));
    if (!verdict.refused()) return verdict;
    if (!firstRefused.refused()) firstRefused = verdict;
  }
  return firstRefused.refused() ? firstRefused : refusal;
}

ReleaseRefusal SignedRelease::judge(const std::string& bytes) {
  ReleaseRefusal refusal;
  // Only a missing record is none. One that cannot be read for the moment
  // (a scanner holds it) is waited for briefly, then the run is refused:
  // taken as none it would let a replayed older release through and lower
  // the record for good. Damaged contents (a disk fault) count as the
  // release this launcher was built for: refusing every release for them
  // would strand the installation.
  std::string recordPath = acceptedReleasePath();
  release::AcceptedRelease newest;
  for (int attempt = 1;; ++attempt) {
    newest = release::readAcceptedRelease(recordPath);
    if (newest.state != release::AcceptedRelease::State::Unreadable || attempt == kRecordReadAttempts) break;
    std::this_thread::sleep_for(kRecordReadPause);
  }
  if (newest.state == release::AcceptedRelease::State::Unreadable) {
    refusal.problem = ReleaseProblem::kRecordUnreadable;
    refusal.detail = recordPath;
    return refusal;
  }
  bool recorded = newest.state == release::AcceptedRelease::State::Ok;
  if (newest.state == release::AcceptedRelease::State::Damaged) newest.number = updater_.releaseFloor;
  release::VerifyResult verdict =
      release::acceptManifest(bytes, updater_.releaseKeys, newest.number, updater_.clock());
  if (!verdict.accepted()) {
    refusal.problem = problemOf(verdict.verdict);
    refusal.detail = verdict.detail;
    refusal.expires = verdict.manifest.expires;
    return refusal;
  }
  manifest_ = std::move(verdict.manifest);
  recordDue_ = manifest_.release > newest.number || !recorded;
  return refusal;
}

void SignedRelease::recordInstalled() {
  if (!enabled_ || !recordDue_) return;
  // A folder that cannot take the record cannot take any update either;
  // the next run finds that out on its own.
  std::string ignored;
  release::writeAcceptedRelease(acceptedReleasePath(), manifest_.release, &ignored);
  recordDue_ = false;
}

release::Origin SignedRelease::originOf(const ServerLocation& source) const {
  return &source == &updater_.iconsSource ? release::Origin::Icons : release::Origin::Update;
}

std::string SignedRelease::requestName(const ServerLocation& source, const std::string& name) const {
  if (!enabled_) return name;
  release::Origin origin = originOf(source);
  const release::FileEntry* entry = manifest_.find(origin, name);
  if (!entry || !release::hasObjects(manifest_, origin)) return name;
  return release::objectName(entry->sha256);
}

std::vector<const ServerLocation*> SignedRelease::serversFor(const ServerLocation& source) const {
  std::vector<const ServerLocation*> servers = {&source};
  // By name a mirror may hold another release's file under the same name.
  if (enabled_ && release::hasObjects(manifest_, originOf(source)))
    for (const ServerLocation& m : originOf(source) == release::Origin::Icons ? iconsMirrors_ : updateMirrors_)
      servers.push_back(&m);
  std::stable_partition(servers.begin(), servers.end(),
                        [this](const ServerLocation* s) { return !unreachable(*s); });
  return servers;
}

void SignedRelease::markUnreachable(const ServerLocation& server) const {
  std::lock_guard<std::mutex> lock(downLock_);
  down_.insert(server.host);
}

bool SignedRelease::unreachable(const ServerLocation& server) const {
  std::lock_guard<std::mutex> lock(downLock_);
  return down_.count(server.host) > 0;
}

bool serverUnreachable(const FetchResult& result) {
  if (result.errorStatus || result.refused) return false;
  uint32_t code = result.status.code();
  return code == kHttpErrorCannotConnect || code == kHttpErrorNameNotResolved || code == kHttpErrorTimeout;
}

bool SignedRelease::names(const ServerLocation& source, const std::string& name) const {
  return !enabled_ || manifest_.find(originOf(source), name) != nullptr;
}

std::unique_ptr<BodyCheck> SignedRelease::checkFor(const ServerLocation& source, const std::string& name) const {
  if (!enabled_) return nullptr;
  const release::FileEntry* entry = manifest_.find(originOf(source), name);
  if (!entry) return nullptr;
  return std::unique_ptr<BodyCheck>(new EntryCheck(*entry));
}

FetchResult fetchChecked(Updater& updater, const SignedRelease* release, DownloadSession& session,
                         const ServerLocation& source, const std::string& name, const FetchTarget& target) {
  bool held = release && release->enabled();
  std::unique_ptr<BodyCheck> check;
  if (held) {
    check = release->checkFor(source, name);
    if (!check) {
      FetchResult r;
      r.status = Status::error(kFetchErrorRefused, source.path + name);
      r.refused = true;
      return r;
    }
  }
  std::string requested = held ? release->requestName(source, name) : name;
  std::vector<const ServerLocation*> servers = held ? release->serversFor(source) : std::vector<const ServerLocation*>{&source};
  FetchResult first;
  for (size_t i = 0; i < servers.size(); ++i) {
    HttpRequest request = buildDownloadRequest(session.game, *servers[i], requested);
    // Several connections at once keep them open from file to file: a new
    // connection per file costs a round trip of its own. One connection is
    // the plain road, a connection per file.
    request.reuseConnection = updater.options.connections > 1;
    request.immutable = requested != name;
    if (check) check->restart();
    BodyCheck* saved = session.check;
    session.check = check.get();
    FetchResult r = fetchWithRetries(session, request, target, updater.retryPolicy(), proveWhole, &updater);
    session.check = saved;
    if (r.ok()) {
      if (requested != name) supportLog().note(name + ": " + request.objectPath + " from " + servers[i]->host);
      return r;
    }
    if (!held) return r;
    if (serverUnreachable(r)) release->markUnreachable(*servers[i]);
    if (i == 0) first = r;
    if (!serverFault(r)) break;  // the next server would meet the same
    if (i + 1 < servers.size())
      supportLog().note(name + ": " + servers[i]->host + " failed (" + std::to_string(r.status.code()) +
                        "), trying " + servers[i + 1]->host);
  }
  // The player knows the file by its name, not by its address.
  first.status = Status::error(first.status.code(), source.path + name);
  return first;
}

}  // namespace tvl
