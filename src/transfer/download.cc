#include "transfer/download.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "launcher/command_line.h"
#include "launcher/launch.h"
#include "platform/fs.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "transfer/archive.h"
#include "transfer/paths.h"
#include "transfer/progress.h"
#include "transfer/updater.h"

const char kDownloadAgent[] = "TervalisOnline2D";
const char kDownloadErrorCaption[] = "Error downloading file";
// "Не удаётся соеденится с сервером обновлений для проверки наличия новой
// версии.\nПопробовать войти в игру без последних обновлений?" in Windows-1251.
const char kPlayWithoutUpdateText[] =
    "\xCD\xE5 \xF3\xE4\xE0\xB8\xF2\xF1\xFF \xF1\xEE\xE5\xE4\xE5\xED\xE8\xF2\xF1\xFF \xF1 "
    "\xF1\xE5\xF0\xE2\xE5\xF0\xEE\xEC \xEE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xE9 \xE4\xEB\xFF "
    "\xEF\xF0\xEE\xE2\xE5\xF0\xEA\xE8 \xED\xE0\xEB\xE8\xF7\xE8\xFF \xED\xEE\xE2\xEE\xE9 "
    "\xE2\xE5\xF0\xF1\xE8\xE8.\n"
    "\xCF\xEE\xEF\xF0\xEE\xE1\xEE\xE2\xE0\xF2\xFC \xE2\xEE\xE9\xF2\xE8 \xE2 \xE8\xE3\xF0\xF3 "
    "\xE1\xE5\xE7 \xEF\xEE\xF1\xEB\xE5\xE4\xED\xE8\xF5 \xEE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xE9?";
const char kProgressBugCaption[] = "BUG in Progress bar";
const char kLauncherExecutable[] = "TervalisOnline2D.exe";
const char kNewLauncherExecutable[] = "TervalisOnline2D.exe.new";

namespace {

constexpr int kTempOpenAttempts = 11;
constexpr auto kTempOpenPause = std::chrono::milliseconds(200);

bool equalsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && (a.empty() || findNoCase(a, b, 0) == 0);
}

// Writes the body into the staging file and keeps the count of what is still
// expected. Judges the response head: only a 200 with a Content-Length is
// taken.
class TempFileSink : public HttpSink {
 public:
  TempFileSink(Updater& updater, std::FILE* file) : updater_(updater), file_(file) {}

  bool onResponse(int status, bool hasContentLength, int32_t contentLength) override {
    if (status != 200) {
      refusal_ = static_cast<uint32_t>(status);
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
    headSeen_ = true;
    remaining_ = contentLength;
    return true;
  }

  bool onData(const char* data, size_t size) override {
    if (!headSeen_) return false;  // a transport that skipped the head
    if (std::fwrite(data, size, 1, file_) != 1 || std::fflush(file_) != 0) {
      writeError_ = errno != 0 ? errno : EIO;
      return false;
    }
    int32_t count = static_cast<int32_t>(size);
    remaining_ = remaining_ < INT32_MIN + count ? INT32_MIN : remaining_ - count;
    updater_.addBytesDone(count);
    if (remaining_ < 0) {
      platform::messageBox(intToString(remaining_), kProgressBugCaption, platform::kMbIconError | platform::kMbOk);
      excess_ = true;
    }
    notifyProgress(updater_);
    return remaining_ > 0;
  }

  bool headSeen() const { return headSeen_; }
  uint32_t refusal() const { return refusal_; }
  int32_t remaining() const { return remaining_; }
  int writeError() const { return writeError_; }
  bool excess() const { return excess_; }

 private:
  Updater& updater_;
  std::FILE* file_;
  bool headSeen_ = false;
  uint32_t refusal_ = 0;
  int32_t remaining_ = 0;
  int writeError_ = 0;
  bool excess_ = false;
};

void removeTempFile(const Updater& updater) {
  platform::setNormalAttributes(updater.tempFile);
  platform::deleteFile(updater.tempFile);
}

}  // namespace

HttpRequest buildDownloadRequest(const Updater& updater, const ServerLocation& source, const std::string& fileName) {
  HttpRequest r;
  r.host = source.host;
  r.port = 80;
  r.objectPath = source.path + fileName;
  r.agent = kDownloadAgent;
  r.socksServer = updater.gameSettings.socksServer;
  r.socksPort = updater.gameSettings.socksPort;
  return r;
}

FetchResult fetchToTempFile(HttpClient& client, Updater& updater, const HttpRequest& request) {
  FetchResult result;
  // Another process may hold the staging file for a moment (a virus
  // scanner, say): wait up to two seconds for it.
  std::string tempPath = platform::nativePath(updater.tempFile);
  std::FILE* file = nullptr;
  for (int attempt = 1;; ++attempt) {
    errno = 0;
    file = std::fopen(tempPath.c_str(), "wb");
    if (file || attempt == kTempOpenAttempts) break;
    std::this_thread::sleep_for(kTempOpenPause);
  }
  if (!file) {
    result.code = static_cast<uint32_t>(errno != 0 ? errno : EACCES);
    return result;
  }

  TempFileSink sink(updater, file);
  HttpResult http = client.get(request, sink);
  errno = 0;
  bool closed = std::fclose(file) == 0;
  int closeError = errno != 0 ? errno : EIO;

  if (http.outcome == HttpOutcome::kNotStarted || (http.outcome == HttpOutcome::kBroken && !sink.headSeen())) {
    result.code = http.code;
  } else if (http.outcome == HttpOutcome::kRefused || !sink.headSeen()) {
    result.code = sink.refusal() != 0 ? sink.refusal() : kHttpErrorInvalidResponse;
  } else if (sink.writeError() != 0) {
    result.code = static_cast<uint32_t>(sink.writeError());
  } else if (sink.excess()) {
    result.code = kHttpErrorInvalidResponse;
  } else if (http.outcome == HttpOutcome::kBroken) {
    result.code = http.code;
  } else if (sink.remaining() != 0) {
    result.code = kHttpErrorConnectionAborted;  // the server closed before the end of the body
  } else if (!closed) {
    result.code = static_cast<uint32_t>(closeError);
  } else {
    result.complete = true;
    return result;
  }
  // Whatever arrived is not the file: it must never reach an installed one.
  removeTempFile(updater);
  return result;
}

void installFetchedFile(Updater& updater, const std::string& fileName, bool isArchive, const std::string& destDir) {
  if (!isArchive) {
    std::string target = destDir + fileName;
    createParentDirectories(target);
    if (!platform::moveReplace(updater.tempFile, target)) removeTempFile(updater);
    return;
  }
  ArchiveReader* reader = openArchive(updater.tempFile);
  ArchiveItem item;
  int32_t count = 0;
  if (reader && getArchiveItem(reader, -1, item) == kArchiveOk) count = item.index;
  setArchiveBaseDir(reader, baseDir);
  for (int32_t i = 0; i < count; ++i) {
    if (getArchiveItem(reader, i, item) != kArchiveOk) continue;
    if (equalsNoCase(item.name, kLauncherExecutable)) {
      // The running launcher is never overwritten: the new one waits beside
      // it until the worker swaps them.
      updater.setCurrentFile(kNewLauncherExecutable);
      notifyProgress(updater);
      extractArchiveItem(reader, i, kNewLauncherExecutable);
    } else {
      // Every other item is the entry's file, whatever it is called inside.
      extractArchiveItem(reader, i, destDir + fileName);
    }
  }
  if (reader) closeArchive(reader);
  removeTempFile(updater);
}

bool isListFile(const std::string& name) {
  return equalsNoCase(name, "files.txt") || equalsNoCase(name, "clan_icons_list.txt");
}

std::string downloadErrorText(uint32_t code, const std::string& objectPath) {
  return "Error downloading file: " + intToString(static_cast<int32_t>(code)) + "\nFile: " + objectPath;
}

void failDownload(Updater& updater, uint32_t code, const std::string& objectPath) {
  if (isListFile(updater.progress().currentFile)) {
    int answer = platform::messageBox(kPlayWithoutUpdateText, kDownloadErrorCaption,
                                      platform::kMbYesNo | platform::kMbIconError);
    if (answer == platform::kIdYes) launchGame(updater);
    platform::exitNormally(-1);
  }
  platform::messageBox(downloadErrorText(code, objectPath), kDownloadErrorCaption,
                       platform::kMbOk | platform::kMbIconError);
  platform::exitNormally(-1);
}

void downloadFile(HttpClient& client, Updater& updater, const ServerLocation& source, const std::string& fileName,
                  int32_t expectedSize, bool isArchive, const std::string& destDir) {
  updater.setCurrentFile(fileName);
  updater.currentFileSize = expectedSize;
  notifyProgress(updater);

  HttpRequest request = buildDownloadRequest(updater, source, fileName);
  FetchResult fetched = fetchToTempFile(client, updater, request);
  if (!fetched.complete) failDownload(updater, fetched.code, request.objectPath);
  installFetchedFile(updater, fileName, isArchive, destDir);
}

void downloadFile(Updater& updater, const ServerLocation& source, const std::string& fileName, int32_t expectedSize,
                  bool isArchive, const std::string& destDir) {
  downloadFile(platformHttpClient(), updater, source, fileName, expectedSize, isArchive, destDir);
}
