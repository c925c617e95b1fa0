#include "transfer/download.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "base/server_address.h"
#include "base/text.h"
#include "platform/disk_space.h"
#include "platform/fs.h"
#include "release/large_list.h"
#include "transfer/resume.h"
#include "transfer/archive.h"
#include "transfer/paths.h"

namespace tvl {


const char kDownloadAgent[] = "TervalisOnline2D";
const char kLauncherExecutable[] = "TervalisOnline2D.exe";

namespace {

constexpr int kTempOpenAttempts = 11;
constexpr auto kTempOpenPause = std::chrono::milliseconds(200);

// Writes the body into the staging file and keeps the count of what is still
// expected. Judges the response head: only a 200 with a Content-Length is
// taken.
class TempFileSink : public HttpSink {
 public:
  TempFileSink(Progress& progress, std::FILE* file, const std::atomic<bool>* cancel, BodyCheck* check)
      : progress_(progress), file_(file), cancel_(cancel), check_(check) {}

  bool onResponse(int status, bool hasContentLength, int64_t contentLength) override {
    if (status != 200) {
      refusal_ = static_cast<uint32_t>(status);
      errorStatus_ = true;
      return false;
    }
    if (!hasContentLength) {
      refusal_ = kHttpErrorHeaderNotFound;
      return false;
    }
    if (contentLength < 0) {
      refusal_ = kHttpErrorInvalidResponse;
      return false;
    }
    if (check_ && !check_->announced(contentLength)) {
      refusal_ = kFetchErrorRefused;
      checkRefused_ = true;
      return false;
    }
    headSeen_ = true;
    remaining_ = contentLength;
    return true;
  }

  bool onData(const char* data, size_t size) override {
    if (!headSeen_) return false;  // a transport that skipped the head
    if (cancel_ && cancel_->load()) return false;
    if (check_ && !check_->received(data, size)) {
      checkRefused_ = true;
      return false;
    }
    if (std::fwrite(data, size, 1, file_) != 1) {
      writeError_ = errno != 0 ? errno : EIO;
      return false;
    }
    // A chunk is never near 2^63: remaining_ cannot wrap.
    int64_t count = static_cast<int64_t>(size);
    remaining_ -= count;
    progress_.addBytesDone(count);
    progress_.notify();
    return remaining_ > 0;
  }

  bool headSeen() const { return headSeen_; }
  uint32_t refusal() const { return refusal_; }
  bool errorStatus() const { return errorStatus_; }
  int64_t remaining() const { return remaining_; }
  int writeError() const { return writeError_; }
  bool checkRefused() const { return checkRefused_; }

 private:
  Progress& progress_;
  std::FILE* file_;
  const std::atomic<bool>* cancel_;
  BodyCheck* check_;
  bool checkRefused_ = false;
  bool headSeen_ = false;
  uint32_t refusal_ = 0;
  bool errorStatus_ = false;
  int64_t remaining_ = 0;
  int writeError_ = 0;
};

}  // namespace

HttpRequest buildDownloadRequest(const GameSettings& game, const ServerLocation& source, const std::string& fileName) {
  HttpRequest r;
  ServerAddress address = parseServerAddress(source.host);
  r.host = address.host;
  r.port = address.valid ? address.port : 0;
  r.secure = address.secure;
  r.objectPath = source.path + fileName;
  r.agent = kDownloadAgent;
  r.socksServer = game.socksServer;
  r.socksPort = game.socksPort;
  return r;
}

FetchResult fetchToTempFile(DownloadSession& session, const HttpRequest& request) {
  // Another process may hold the staging file for a moment (a virus
  // scanner, say): wait up to two seconds for it.
  std::string tempPath = platform::nativePath(session.tempFile);
  std::FILE* file = nullptr;
  for (int attempt = 1;; ++attempt) {
    errno = 0;
    file = std::fopen(tempPath.c_str(), "wb");
    if (file || attempt == kTempOpenAttempts) break;
    std::this_thread::sleep_for(kTempOpenPause);
  }
  if (!file) {
    FetchResult r;
    r.status = Status::error(static_cast<uint32_t>(errno != 0 ? errno : EACCES), request.objectPath);
    return r;
  }

  // A large buffer instead of a flush per chunk: the staging file is read
  // by nobody before it is closed, and a write error still surfaces (at
  // the latest when closing).
  StagingBuffer buffer;
  buffer.attach(file);
  TempFileSink sink(session.progress, file, session.cancel, session.check);
  HttpResult http = session.client.get(request, sink);
  errno = 0;
  bool closed = std::fclose(file) == 0;
  int closeError = errno != 0 ? errno : EIO;

  uint32_t code = 0;
  FetchResult result;
  if (http.outcome == HttpOutcome::kNotStarted || (http.outcome == HttpOutcome::kBroken && !sink.headSeen())) {
    code = http.code;
  } else if (http.outcome == HttpOutcome::kRefused || !sink.headSeen()) {
    code = sink.refusal() != 0 ? sink.refusal() : kHttpErrorInvalidResponse;
    result.errorStatus = sink.errorStatus();
  } else if (sink.checkRefused()) {
    code = kFetchErrorRefused;
  } else if (sink.writeError() != 0) {
    code = platform::writeFailureCode(static_cast<uint32_t>(sink.writeError()), session.tempFile);
  } else if (sink.remaining() < 0) {
    code = kHttpErrorInvalidResponse;
    result.overrun = sink.remaining();
  } else if (http.outcome == HttpOutcome::kBroken) {
    code = http.code;
  } else if (sink.remaining() != 0) {
    code = kHttpErrorConnectionAborted;  // the server closed before the end of the body
  } else if (!closed) {
    code = platform::writeFailureCode(static_cast<uint32_t>(closeError), session.tempFile);
  } else if (session.check && !session.check->complete()) {
    code = kFetchErrorRefused;
  } else {
    return result;
  }
  // Whatever arrived is not the file: it must never reach an installed one.
  platform::removeFile(session.tempFile);
  result.status = Status::error(code, request.objectPath);
  result.refused = code == kFetchErrorRefused;
  return result;
}

namespace {

// Whether the volume of path has bytes to spare; true when the system cannot
// tell (nothing is refused on a guess).
bool roomFor(const std::string& path, uint64_t bytes) {
  platform::DiskSpace space;
  if (!platform::diskSpace(path, &space)) return true;
  uint64_t unit = space.unitBytes;
  return space.freeBytes >= (bytes + unit - 1) / unit * unit;
}

}  // namespace

uint32_t installFetchedFile(DownloadSession& session, const std::string& fileName, bool isArchive,
                            const std::string& destDir) {
  if (!isArchive) {
    std::string target = destDir + fileName;
    createParentDirectories(target);
    if (!platform::moveReplace(session.tempFile, target)) platform::removeFile(session.tempFile);
    return 0;
  }
  ArchiveReader* reader = openArchive(session.tempFile);
  ArchiveItem item;
  int32_t count = 0;
  if (reader && getArchiveItem(reader, -1, item) == kArchiveOk) count = item.index;
  setArchiveBaseDir(reader, baseDir);
  // Every member stands beside the file it replaces until it is complete.
  const std::string target = baseDir + destDir + fileName;
  uint64_t unpacked = 0;
  for (int32_t i = 0; i < count; ++i)
    if (getArchiveItem(reader, i, item) == kArchiveOk)
      unpacked = item.uncompressedSize > UINT64_MAX - unpacked ? UINT64_MAX : unpacked + item.uncompressedSize;
  uint32_t result = roomFor(target, unpacked) ? 0 : kUnpackDiskFull;
  for (int32_t i = 0; i < count && result == 0; ++i) {
    if (getArchiveItem(reader, i, item) != kArchiveOk) continue;
    uint32_t rc;
    if (equalsNoCase(item.name, session.launcherName)) {
      // The running launcher is never overwritten: the new one waits beside
      // it until the worker swaps them.
      std::string fresh = session.launcherName + ".new";
      session.progress.setCurrentFile(fresh);
      session.progress.notify();
      rc = extractArchiveItem(reader, i, fresh);
    } else {
      // Every other item is the entry's file, whatever it is called inside.
      rc = extractArchiveItem(reader, i, destDir + fileName);
    }
    // Someone else may have filled the disk since the check.
    if (rc == kArchiveWriteFailed && !roomFor(target, item.uncompressedSize)) result = kUnpackDiskFull;
  }
  if (reader) closeArchive(reader);
  platform::removeFile(session.tempFile);
  return result;
}

bool isListFile(const std::string& name) {
  return equalsNoCase(name, "files.txt") || equalsNoCase(name, release::kLargeListName) ||
         equalsNoCase(name, "clan_icons_list.txt");
}

FetchResult downloadFile(DownloadSession& session, const ServerLocation& source, const std::string& fileName,
                         bool isArchive, const std::string& destDir) {
  session.progress.setCurrentFile(fileName);
  session.progress.notify();

  HttpRequest request = buildDownloadRequest(session.game, source, fileName);
  FetchResult fetched = fetchToTempFile(session, request);
  if (fetched.ok()) {
    uint32_t installed = installFetchedFile(session, fileName, isArchive, destDir);
    if (installed != 0) fetched.status = Status::error(installed, request.objectPath);
  }
  return fetched;
}

}  // namespace tvl
