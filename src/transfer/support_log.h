// A small log for support: what the last few update runs fetched, retried,
// resumed and failed on, kept in the install folder so that a player can
// send it when an update fails.
//
// Runs start with a heading line ("=== run <time> <heading>"); starting a run
// drops the oldest runs beyond the limits, so the file never grows past
// maxBytes. Writing the log never fails anything: a log that cannot be
// written stays silent. Every line is flushed as it is written (a killed
// launcher loses nothing), and the calls are safe from several threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

namespace tvl {


extern const char kSupportLogName[];  // "TervalisOnline2D.log"

struct SupportLogLimits {
  int keepRuns = 5;                // this run and up to four before it
  size_t maxBytes = 256 * 1024;    // the whole file
  size_t runBytes = 48 * 1024;     // one run's ordinary lines; failures get a little more
};

class SupportLog {
 public:
  // Time stamp text for a line.
  using Clock = std::function<std::string()>;

  SupportLog();
  ~SupportLog();
  SupportLog(const SupportLog&) = delete;
  SupportLog& operator=(const SupportLog&) = delete;

  // Trims what earlier runs left at path to the limits, then starts this run.
  void start(const std::string& path, const std::string& heading, const SupportLogLimits& limits = {});
  // Ends this run's part: the file is closed and later lines are dropped.
  void stop();
  void setClockForTesting(Clock clock);

  // One time-stamped line. Failure lines are written while ordinary ones are
  // already being left out.
  void note(const std::string& text);
  void fetched(const std::string& objectPath, int64_t bytes, int64_t resumedFrom, int retries);
  void retrying(const std::string& objectPath, uint32_t code, int retry, int delayMs);
  void resuming(const std::string& objectPath, int64_t from, const std::string& validator);
  void startingOver(const std::string& objectPath, const std::string& why);
  void failed(const std::string& objectPath, uint32_t code);
  // A secure connection to host refused, and why (a certificate that failed
  // the checks, a redirect to plain HTTP).
  void secureRefused(const std::string& host, const std::string& why, uint32_t code);

 private:
  void write(const std::string& text, bool failure);

  std::mutex mutex_;
  Clock clock_;
  std::FILE* file_ = nullptr;
  SupportLogLimits limits_;
  size_t runWritten_ = 0;
  bool cut_ = false;
};

// The launcher's one log.
SupportLog& supportLog();

}  // namespace tvl
