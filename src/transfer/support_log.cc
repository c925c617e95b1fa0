#include "transfer/support_log.h"

#include <chrono>
#include <ctime>
#include <utility>
#include <vector>

#include "platform/fs.h"

namespace tvl {


const char kSupportLogName[] = "TervalisOnline2D.log";

namespace {

constexpr char kRunMark[] = "=== run ";
constexpr size_t kFailureReserve = 8 * 1024;

std::string localTimeText() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
                            1000);
  char text[40] = "";
  // Called under the log's lock; nothing else in the launcher uses localtime.
  if (std::tm* tm = std::localtime(&t)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", tm);
  char withMs[48];
  std::snprintf(withMs, sizeof withMs, "%s.%03d", text, ms);
  return withMs;
}

std::string readAll(const std::string& path) {
  std::string text;
  std::FILE* f = std::fopen(platform::nativePath(path).c_str(), "rb");
  if (!f) return text;
  char buffer[16384];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
  std::fclose(f);
  return text;
}

// The earlier runs that stay: at most keep - 1 of them, the newest, and no
// more than fit beside a whole new run.
std::string trimmedRuns(const std::string& text, const SupportLogLimits& limits) {
  std::vector<size_t> starts;
  for (size_t at = 0; at < text.size();) {
    if (text.compare(at, sizeof kRunMark - 1, kRunMark) == 0) starts.push_back(at);
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  size_t room = limits.maxBytes > limits.runBytes + kFailureReserve + 1024
                    ? limits.maxBytes - limits.runBytes - kFailureReserve - 1024
                    : 0;
  size_t keep = limits.keepRuns > 1 ? static_cast<size_t>(limits.keepRuns - 1) : 0;
  size_t first = starts.size() > keep ? starts.size() - keep : 0;
  while (first < starts.size() && text.size() - starts[first] > room) ++first;
  if (first >= starts.size()) return std::string();
  std::string kept = text.substr(starts[first]);
  // A run whose last line was cut by a crash ends here.
  if (!kept.empty() && kept.back() != '\n') kept += "\r\n";
  return kept;
}

std::string codeText(uint32_t code) { return std::to_string(static_cast<int32_t>(code)); }

}  // namespace

SupportLog::SupportLog() : clock_(localTimeText) {}

SupportLog::~SupportLog() {
  if (file_) std::fclose(file_);
}

void SupportLog::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void SupportLog::setClockForTesting(Clock clock) {
  std::lock_guard<std::mutex> lock(mutex_);
  clock_ = std::move(clock);
}

void SupportLog::start(const std::string& path, const std::string& heading, const SupportLogLimits& limits) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) std::fclose(file_);
  file_ = nullptr;
  limits_ = limits;
  runWritten_ = 0;
  cut_ = false;
  std::string kept = trimmedRuns(readAll(path), limits);
  std::string temp = path + ".tmp";
  std::FILE* f = std::fopen(platform::nativePath(temp).c_str(), "wb");
  if (!f) return;
  bool ok = std::fwrite(kept.data(), 1, kept.size(), f) == kept.size();
  ok = std::fclose(f) == 0 && ok;
  std::string error;
  if (!ok || !platform::replaceFile(temp, path, &error)) {
    platform::removeFile(temp);
    return;
  }
  file_ = std::fopen(platform::nativePath(path).c_str(), "ab");
  if (!file_) return;
  std::string line = kRunMark + clock_() + " " + heading + "\r\n";
  std::fputs(line.c_str(), file_);
  std::fflush(file_);
}

void SupportLog::write(const std::string& text, bool failure) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_) return;
  std::string line = clock_() + " " + text + "\r\n";
  size_t limit = limits_.runBytes + (failure ? kFailureReserve : 0);
  if (runWritten_ + line.size() > limit) {
    if (cut_) return;
    cut_ = true;
    line = clock_() + " (more lines left out)\r\n";
    if (runWritten_ + line.size() > limits_.runBytes + kFailureReserve) return;
  }
  runWritten_ += line.size();
  if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
    std::fclose(file_);  // a disk that refuses once is not asked again
    file_ = nullptr;
  }
}

void SupportLog::note(const std::string& text) { write(text, false); }

void SupportLog::fetched(const std::string& objectPath, int64_t bytes, int64_t resumedFrom, int retries) {
  std::string text = "fetched " + objectPath + " " + std::to_string(bytes) + " bytes";
  if (resumedFrom > 0) text += ", resumed at " + std::to_string(resumedFrom);
  if (retries > 0) text += ", " + std::to_string(retries) + (retries == 1 ? " retry" : " retries");
  write(text, false);
}

void SupportLog::retrying(const std::string& objectPath, uint32_t code, int retry, int delayMs) {
  write("retry " + std::to_string(retry) + " of " + objectPath + " after error " + codeText(code) + " in " +
            std::to_string(delayMs) + " ms",
        false);
}

void SupportLog::resuming(const std::string& objectPath, int64_t from, const std::string& validator) {
  write("resume " + objectPath + " at " + std::to_string(from) + " if " + validator, false);
}

void SupportLog::startingOver(const std::string& objectPath, const std::string& why) {
  write("start over " + objectPath + ": " + why, false);
}

void SupportLog::failed(const std::string& objectPath, uint32_t code) {
  write("FAILED " + objectPath + " error " + codeText(code), true);
}

void SupportLog::secureRefused(const std::string& host, const std::string& why, uint32_t code) {
  write("SECURE CONNECTION REFUSED " + host + ": " + why + " (error " + codeText(code) + ")", true);
}

SupportLog& supportLog() {
  static SupportLog log;
  return log;
}

}  // namespace tvl
