// Resuming a fetch that broke off, within a run and across runs.
//
// The staging file keeps the body received so far. A retry asks for the rest
// with a range request guarded by the server's validator (a strong ETag, or
// Last-Modified), and takes the answer only when it continues exactly where
// the file stops; a whole file (200) is written from the start instead, and
// anything that does not fit drops the partial. For entries of
// kKeepPartialBytes or more, a small sidecar beside the staging file
// ("<staging>.resume") carries the partial over to the next run: the list
// entry it belongs to (digest and size), the validator, the length of the
// whole body, and how many bytes are known to be on disk. A resumed file is
// not proven whole by any of this: the caller verifies it before installing
// (resumed() says when that is due).
//
// One StagingFile per transfer, used by one thread at a time. Staging paths
// are ASCII.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "transfer/http.h"

namespace tvl {


// Partials of smaller entries are not kept across runs.
constexpr int64_t kKeepPartialBytes = 1 << 20;

// What the C library gathers before it writes a staging file. The bytes are
// ours: glibc's setvbuf takes no size without a buffer and writes 4 KiB at
// a time.
constexpr size_t kStagingBuffer = 256 * 1024;
struct StagingBuffer {
  std::unique_ptr<char[]> bytes{new char[kStagingBuffer]};
  void attach(std::FILE* file) { std::setvbuf(file, bytes.get(), _IOFBF, kStagingBuffer); }
};

struct PartialInfo {
  std::string digest;     // the list entry's digest
  int64_t size = 0;       // the list entry's size
  int64_t total = 0;      // the whole body's length, as the server announced it
  int64_t written = 0;    // bytes of it known to be in the staging file
  std::string validator;  // ETag or Last-Modified, as the server sent it
};

std::string sidecarPath(const std::string& stagingPath);  // stagingPath + ".resume"
// Written to a temporary name, then moved over the old one in one step.
bool writePartialInfo(const std::string& stagingPath, const PartialInfo& info);
// False when the sidecar is missing or not exactly what writePartialInfo writes.
bool readPartialInfo(const std::string& stagingPath, PartialInfo* info);

// What may guard a range request: a strong ETag, else Last-Modified, else
// nothing (a weak ETag cannot guard a range).
std::string validatorOf(const HttpResponseHead& head);

// Where the next attempt starts: from 0 asks for the whole file.
struct ResumePoint {
  int64_t from = 0;
  int64_t total = -1;  // the whole body's length; -1 unknown
  std::string validator;
};

enum class HeadVerdict {
  kAppend,     // a 206 that continues exactly at the point: append to the file
  kFromStart,  // a 200: the whole file, written from the start
  kStartOver,  // a 416, or a 206 that does not fit: the partial is worthless;
               // ask again at once for the whole file (not a failed attempt)
  kFail,       // any other status: the attempt failed with it
};

// A 206 fits when its Content-Range starts at the point and runs to the end
// of a body of the known total, its Content-Length (if any) agrees, and the
// validator it carries (if any) is the one the range was asked with.
HeadVerdict judgeHead(const ResumePoint& at, const HttpResponseHead& head);

class StagingFile {
 public:
  StagingFile(std::string path, std::string digest, int64_t size);
  ~StagingFile();  // closes; the files stay as they are
  StagingFile(const StagingFile&) = delete;
  StagingFile& operator=(const StagingFile&) = delete;

  bool keptAcrossRuns() const { return size_ >= kKeepPartialBytes; }

  // Takes over what an earlier run left at this path: kept when the sidecar
  // names this entry, holds a validator, and the file holds at least the
  // bytes it counts; otherwise both files go. Returns the bytes taken over.
  int64_t adoptLeftover();

  // Sets the request's range fields for the next attempt.
  void prepare(HttpRequest& request) const;

  // Judges the response head and, for kAppend and kFromStart, opens the file
  // for the body. kStartOver drops the partial.
  HeadVerdict begin(const HttpResponseHead& head);
  // Appends body bytes; false when the file cannot take them (writeError()).
  bool write(const char* data, size_t size);
  // The attempt ended before the whole body: what arrived stays for the next
  // attempt when a validator guards it, otherwise the next one starts over.
  void interrupted();
  // The attempt delivered the whole body: true when the file holds exactly
  // total bytes and closed without error. The sidecar goes only then: the
  // checkpoint it names still holds after a body the disk did not take.
  bool complete();
  // The run goes on (or ends) without this file: a large partial that can be
  // resumed stays for the next run, anything else is deleted.
  void leave();
  // The disk filled: the bytes up to the last checkpoint (flushed before the
  // sidecar named them) stay for a run with room, whatever the attempt
  // wrote after it; without a sidecar, as leave().
  void leaveAtCheckpoint();
  // Deletes the staging file and its sidecar.
  void discard();

  const std::string& path() const { return path_; }
  const ResumePoint& point() const { return point_; }
  int64_t written() const { return written_; }
  bool resumed() const { return resumed_; }  // some of the body came from an earlier attempt
  int64_t resumedFrom() const { return resumedFrom_; }  // where the first continuation of this body started
  int writeError() const { return writeError_; }

 private:
  bool open(int64_t from);
  void close();
  void checkpoint();

  std::string path_;
  std::string digest_;
  int64_t size_;
  ResumePoint point_;
  StagingBuffer buffer_;  // outlives file_
  std::FILE* file_ = nullptr;
  int64_t written_ = 0;
  int64_t checkpointAt_ = 0;
  bool resumed_ = false;
  int64_t resumedFrom_ = 0;
  int writeError_ = 0;
};

}  // namespace tvl
