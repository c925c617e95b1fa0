#include "transfer/resume.h"

#include <cerrno>
#include <climits>
#include <utility>
#include <vector>

#include "platform/fs.h"
#include "transfer/http_head.h"

namespace tvl {


namespace {

// How often a kept partial's sidecar catches up with the file: after a kill
// at most this much, or a sixteenth of what had arrived, is fetched again.
// Each catch-up flushes the buffer and replaces the sidecar: once per MiB
// throughout, a large download spent a third of its CPU time on them.
constexpr int64_t kCheckpointBytes = 1 << 20;
constexpr int64_t kCheckpointShare = 16;
constexpr char kSidecarMagic[] = "tvl-partial 1";

void removeFile(const std::string& path) { platform::removeFile(path); }

bool fileSize(const std::string& path, int64_t* size) {
  platform::PathInfo info = platform::pathInfo(path);
  if (info.kind != platform::PathKind::File) return false;
  *size = static_cast<int64_t>(info.size);
  return true;
}

bool isStrongEtag(const std::string& v) { return v.size() >= 2 && v.front() == '"' && v.back() == '"'; }

}  // namespace

std::string sidecarPath(const std::string& stagingPath) { return stagingPath + ".resume"; }

bool writePartialInfo(const std::string& stagingPath, const PartialInfo& info) {
  if (info.validator.find_first_of("\r\n") != std::string::npos) return false;
  std::string text = std::string(kSidecarMagic) + "\ndigest " + info.digest + "\nsize " + std::to_string(info.size) +
                     "\ntotal " + std::to_string(info.total) + "\nwritten " + std::to_string(info.written) +
                     "\nvalidator " + info.validator + "\n";
  std::string final = sidecarPath(stagingPath), temp = final + ".tmp";
  std::FILE* f = std::fopen(platform::nativePath(temp).c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  std::string error;
  if (ok && platform::replaceFile(temp, final, &error)) return true;
  removeFile(temp);
  return false;
}

bool readPartialInfo(const std::string& stagingPath, PartialInfo* info) {
  std::FILE* f = std::fopen(platform::nativePath(sidecarPath(stagingPath)).c_str(), "rb");
  if (!f) return false;
  char buffer[4096];
  size_t n = std::fread(buffer, 1, sizeof buffer, f);
  std::fclose(f);
  if (n == sizeof buffer) return false;
  std::string text(buffer, n);
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) return false;  // a sidecar cut short
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  const char* keys[] = {"digest ", "size ", "total ", "written ", "validator "};
  if (lines.size() != 6 || lines[0] != kSidecarMagic) return false;
  std::string values[5];
  for (int i = 0; i < 5; ++i) {
    const std::string key = keys[i];
    if (lines[i + 1].compare(0, key.size(), key) != 0) return false;
    values[i] = lines[i + 1].substr(key.size());
  }
  PartialInfo p;
  p.digest = values[0];
  p.size = parseLength64(values[1]);
  p.total = parseLength64(values[2]);
  p.written = parseLength64(values[3]);
  p.validator = values[4];
  if (p.size < 0 || p.total < 0 || p.written < 0 || p.written > p.total) return false;
  *info = p;
  return true;
}

std::string validatorOf(const HttpResponseHead& head) {
  if (isStrongEtag(head.etag)) return head.etag;
  return head.lastModified;
}

HeadVerdict judgeHead(const ResumePoint& at, const HttpResponseHead& head) {
  if (head.status == 200) return HeadVerdict::kFromStart;
  if (at.from <= 0) return HeadVerdict::kFail;  // nothing else answers a request for the whole file
  if (head.status == 416) return HeadVerdict::kStartOver;
  if (head.status != 206) return HeadVerdict::kFail;
  bool fits = head.hasContentRange && head.rangeFirst == at.from && at.total > 0 && head.rangeTotal == at.total &&
              head.rangeLast == at.total - 1 && (!head.hasContentLength || head.contentLength == at.total - at.from);
  // A server that honours Range but not If-Range shows itself by the
  // validator of what it sends.
  if (isStrongEtag(at.validator)) {
    if (!head.etag.empty() && head.etag != at.validator) fits = false;
  } else if (!head.lastModified.empty() && head.lastModified != at.validator) {
    fits = false;
  }
  return fits ? HeadVerdict::kAppend : HeadVerdict::kStartOver;
}

StagingFile::StagingFile(std::string path, std::string digest, int64_t size)
    : path_(std::move(path)), digest_(std::move(digest)), size_(size) {}

StagingFile::~StagingFile() { close(); }

int64_t StagingFile::adoptLeftover() {
  PartialInfo info;
  int64_t onDisk = 0;
  if (keptAcrossRuns() && readPartialInfo(path_, &info) && info.digest == digest_ && info.size == size_ &&
      !info.validator.empty() && info.written > 0 && info.written < info.total && fileSize(path_, &onDisk) &&
      onDisk >= info.written) {
    point_ = ResumePoint{info.written, info.total, info.validator};
    written_ = info.written;
    return written_;
  }
  discard();
  return 0;
}

void StagingFile::prepare(HttpRequest& request) const {
  request.rangeFrom = point_.from;
  request.ifRange = point_.from > 0 ? point_.validator : std::string();
}

HeadVerdict StagingFile::begin(const HttpResponseHead& head) {
  close();
  HeadVerdict verdict = judgeHead(point_, head);
  switch (verdict) {
    case HeadVerdict::kAppend:
      if (!open(point_.from)) return HeadVerdict::kFail;
      if (!resumed_) resumedFrom_ = point_.from;
      resumed_ = true;
      break;
    case HeadVerdict::kFromStart:
      // The whole body again: nothing of it comes from earlier attempts.
      resumed_ = false;
      resumedFrom_ = 0;
      point_ = ResumePoint{0, head.hasContentLength ? head.contentLength : -1, validatorOf(head)};
      if (!open(0)) return HeadVerdict::kFail;
      break;
    case HeadVerdict::kStartOver:
      discard();
      break;
    case HeadVerdict::kFail:
      break;
  }
  if (file_ && keptAcrossRuns()) checkpoint();
  return verdict;
}

bool StagingFile::open(int64_t from) {
  writeError_ = 0;
  errno = 0;
  std::string native = platform::nativePath(path_);
  if (from > 0) {
    // Overwrites from there on: bytes past the point (left by a run killed
    // between two checkpoints) are rewritten by the body.
    file_ = std::fopen(native.c_str(), "r+b");
    if (file_ && !platform::seekFile(file_, static_cast<uint64_t>(from))) close();
  } else if (from == 0) {
    file_ = std::fopen(native.c_str(), "wb");
  }
  if (!file_) {
    writeError_ = errno != 0 ? errno : EIO;
    return false;
  }
  buffer_.attach(file_);
  written_ = from;
  checkpointAt_ = from;
  return true;
}

void StagingFile::close() {
  if (!file_) return;
  errno = 0;
  if (std::fclose(file_) != 0 && writeError_ == 0) writeError_ = errno != 0 ? errno : EIO;
  file_ = nullptr;
}

bool StagingFile::write(const char* data, size_t size) {
  if (!file_ || writeError_ != 0) return false;
  errno = 0;
  if (std::fwrite(data, 1, size, file_) != size) {
    writeError_ = errno != 0 ? errno : EIO;
    return false;
  }
  written_ += static_cast<int64_t>(size);
  int64_t step = written_ / kCheckpointShare > kCheckpointBytes ? written_ / kCheckpointShare : kCheckpointBytes;
  if (keptAcrossRuns() && written_ - checkpointAt_ >= step) checkpoint();
  return true;
}

// The sidecar never counts bytes that may still sit in a buffer.
void StagingFile::checkpoint() {
  if (!file_ || std::fflush(file_) != 0) return;
  checkpointAt_ = written_;
  if (point_.validator.empty() || point_.total <= 0) return;
  writePartialInfo(path_, PartialInfo{digest_, size_, point_.total, written_, point_.validator});
}

void StagingFile::interrupted() {
  bool wasOpen = file_ != nullptr;
  // Nothing arrived this time (no connection, a refused head): the partial
  // on disk stands as it was.
  if (!wasOpen && point_.from > 0) return;
  if (wasOpen && keptAcrossRuns()) checkpoint();
  close();
  if (wasOpen && writeError_ == 0 && !point_.validator.empty() && point_.total > 0 && written_ > 0 &&
      written_ < point_.total) {
    point_.from = written_;
  } else {
    point_ = ResumePoint();
    written_ = 0;
  }
}

bool StagingFile::complete() {
  close();
  int64_t onDisk = -1;
  bool whole = writeError_ == 0 && point_.total >= 0 && written_ == point_.total && fileSize(path_, &onDisk) &&
               onDisk == point_.total;
  // A body the disk did not take whole leaves the sidecar: the bytes it
  // names were on the disk before.
  if (whole) removeFile(sidecarPath(path_));
  return whole;
}

void StagingFile::leave() {
  close();
  PartialInfo info;
  if (keptAcrossRuns() && point_.from > 0 && readPartialInfo(path_, &info) && info.written == point_.from) return;
  discard();
}

void StagingFile::leaveAtCheckpoint() {
  close();
  PartialInfo info;
  if (keptAcrossRuns() && readPartialInfo(path_, &info) && info.written > 0) return;
  discard();
}

void StagingFile::discard() {
  close();
  removeFile(path_);
  removeFile(sidecarPath(path_));
  point_ = ResumePoint();
  written_ = 0;
}

}  // namespace tvl
