// Fetching one file over HTTP into the staging file, then installing it: a
// plain file is moved into place, a packed one is unpacked. Runs on the
// update worker thread.
//
// A transfer that does not deliver the whole, announced body of a 200
// response is a failed transfer: the staging file is deleted, nothing
// installed is touched, and the failure is returned to the caller, which
// decides what the user is told. Nothing here shows a box or ends the
// process.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/connection.h"
#include "base/status.h"
#include "transfer/http.h"
#include "transfer/progress.h"

namespace tvl {


extern const char kDownloadAgent[];           // "TervalisOnline2D"
extern const char kLauncherExecutable[];      // "TervalisOnline2D.exe", the Windows launcher

// Holds one body to what is expected of it while it arrives (a signed
// release's size and SHA-256), before any of it is written.
class BodyCheck {
 public:
  virtual ~BodyCheck() = default;
  // The announced length; false refuses the body unread.
  virtual bool announced(int64_t contentLength) = 0;
  // The next bytes, before they are written; false refuses them and ends
  // the transfer.
  virtual bool received(const char* data, size_t size) = 0;
  // The whole announced body has arrived; false refuses it.
  virtual bool complete() = 0;
  // Forgets what it was shown: a new attempt at the same body follows.
  virtual void restart() = 0;
};

// The code shown for a body a BodyCheck refused: Windows' TRUST_E_BAD_DIGEST
// ("the digital signature of the object did not verify").
constexpr uint32_t kFetchErrorRefused = 0x80096010;

// What every download of one run shares.
struct DownloadSession {
  HttpClient& client;
  Progress& progress;
  std::string tempFile;        // the staging file
  const GameSettings& game;    // its SOCKS proxy is used for every request
  // When set and true, a transfer in progress stops (and fails) at its next
  // chunk: the run no longer needs it.
  const std::atomic<bool>* cancel = nullptr;
  // The running launcher's own file name: an archive item of that name
  // (any letter case) is unpacked beside it, as launcherName + ".new".
  std::string launcherName = kLauncherExecutable;
  BodyCheck* check = nullptr;  // when set, judges every body fetched
};

// The end of one fetch. status carries the code the user is shown and, as
// its message, the object path. overrun is the (negative) count of bytes
// still expected when the server sent more than it announced: the user is
// told of it before the failure itself.
struct FetchResult {
  Status status;
  int32_t overrun = 0;
  // The server answered, with a status other than 200 (status carries it):
  // it has no such file to give, as opposed to a transfer that broke down.
  bool errorStatus = false;
  bool refused = false;  // session.check refused the body (kFetchErrorRefused)
  bool ok() const { return status.isOk(); }
};

// Fetches source.path + fileName and installs it below destDir (unpacked
// when isArchive). The progress shows fileName while it runs.
FetchResult downloadFile(DownloadSession& session, const ServerLocation& source, const std::string& fileName,
                         bool isArchive, const std::string& destDir);

// ---- The steps of downloadFile, for tests.

// The request for source.path + fileName, with the game settings' SOCKS proxy.
HttpRequest buildDownloadRequest(const GameSettings& game, const ServerLocation& source, const std::string& fileName);

// Receives the response into session.tempFile (opened with up to 11 attempts
// 200 ms apart), counting progress. Accepts only status 200 with a
// Content-Length and exactly that many body bytes; anything else deletes the
// staging file and reports the code: the platform's error, the HTTP status
// (with errorStatus set),
// kHttpErrorHeaderNotFound (no Content-Length), kHttpErrorConnectionAborted
// (body ended early), kHttpErrorInvalidResponse (more bytes than announced,
// with overrun set), or the C library's errno when the staging file cannot be
// opened or written. With session.check set, a body it refuses fails with
// kFetchErrorRefused and refused set; refused bytes are never written.
FetchResult fetchToTempFile(DownloadSession& session, const HttpRequest& request);

// Installs the complete staging file for fileName below destDir. 0, or
// kUnpackDiskFull when an archive did not fit on the disk: checked by the
// archive's own sizes before anything is written, and again when a write
// fails. Nothing installed is then touched; the archive is deleted. Other
// failures to put a file in place are not reported (the next start's check
// fetches the file again).
uint32_t installFetchedFile(DownloadSession& session, const std::string& fileName, bool isArchive,
                            const std::string& destDir);

// Windows' ERROR_DISK_FULL, in both builds.
constexpr uint32_t kUnpackDiskFull = 112;

// "files.txt" or "clan_icons_list.txt", ASCII letters in any case.
bool isListFile(const std::string& name);

}  // namespace tvl
