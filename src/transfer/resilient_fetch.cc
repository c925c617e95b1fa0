#include "transfer/resilient_fetch.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <vector>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/disk_space.h"
#include "platform/fs.h"
#include "transfer/resume.h"
#include "transfer/retry.h"
#include "transfer/support_log.h"

namespace tvl {


namespace {

// Judges one attempt's response as the one-try sink does (a whole file needs
// a 200 with a Content-Length; a continuation, a 206 that fits) and writes
// the body into the staging file.
class ResumeSink : public HttpSink {
 public:
  ResumeSink(StagingFile& staging, Progress& progress, const std::atomic<bool>* cancel, BodyCheck* check,
             int64_t* counted)
      : staging_(staging), progress_(progress), cancel_(cancel), check_(check), counted_(counted) {}

  bool onHead(const HttpResponseHead& head) override {
    verdict_ = staging_.begin(head);
    if (verdict_ == HeadVerdict::kStartOver) return false;
    if (verdict_ == HeadVerdict::kFail) {
      errorStatus_ = staging_.writeError() == 0;
      refusal_ = staging_.writeError() != 0 ? static_cast<uint32_t>(staging_.writeError())
                                            : static_cast<uint32_t>(head.status);
      return false;
    }
    if (!head.hasContentLength) {
      refusal_ = kHttpErrorHeaderNotFound;
      return false;
    }
    if (head.contentLength < 0) {
      refusal_ = kHttpErrorInvalidResponse;
      return false;
    }
    if (check_ && !showCheck(head)) {
      refusal_ = kFetchErrorRefused;
      checkRefused_ = true;
      return false;
    }
    if (verdict_ == HeadVerdict::kFromStart && *counted_ != 0) {
      // What earlier attempts showed comes again: the bar must not run ahead.
      progress_.addBytesDone(-*counted_);
      *counted_ = 0;
    }
    headSeen_ = true;
    remaining_ = head.contentLength;
    return true;
  }

  // A head without validators or ranges (what a bare status and length say).
  bool onResponse(int status, bool hasContentLength, int64_t contentLength) override {
    HttpResponseHead head;
    head.status = status;
    head.hasContentLength = hasContentLength;
    head.contentLength = contentLength;
    return onHead(head);
  }

  bool onData(const char* data, size_t size) override {
    if (!headSeen_) return false;
    if (cancel_ && cancel_->load()) return false;
    if (check_ && !check_->received(data, size)) {
      checkRefused_ = true;
      return false;
    }
    if (!staging_.write(data, size)) return false;
    // A chunk is never near 2^63: remaining_ cannot wrap.
    int64_t count = static_cast<int64_t>(size);
    remaining_ -= count;
    received_ += count;
    *counted_ += count;
    progress_.addBytesDone(count);
    progress_.notify();
    return remaining_ > 0;
  }

  HeadVerdict verdict() const { return verdict_; }
  bool checkRefused() const { return checkRefused_; }
  bool headSeen() const { return headSeen_; }
  bool errorStatus() const { return errorStatus_; }
  uint32_t refusal() const { return refusal_; }
  int64_t remaining() const { return remaining_; }
  int64_t received() const { return received_; }

 private:
  // The check sees the whole body of every attempt: a continuation first
  // shows it what the staging file already holds.
  bool showCheck(const HttpResponseHead& head) {
    check_->restart();
    if (verdict_ == HeadVerdict::kFromStart) return check_->announced(head.contentLength);
    int64_t total = head.rangeTotal;
    if (total < 0 || !check_->announced(total)) return false;
    std::FILE* f = std::fopen(platform::nativePath(staging_.path()).c_str(), "rb");
    if (!f) return false;
    std::vector<char> buffer(256 * 1024);
    int64_t left = staging_.point().from;
    bool ok = true;
    while (ok && left > 0) {
      size_t want = left < static_cast<int64_t>(buffer.size()) ? static_cast<size_t>(left) : buffer.size();
      size_t got = std::fread(buffer.data(), 1, want, f);
      ok = got == want && check_->received(buffer.data(), got);
      left -= static_cast<int64_t>(got);
    }
    std::fclose(f);
    return ok;
  }

  StagingFile& staging_;
  Progress& progress_;
  const std::atomic<bool>* cancel_;
  BodyCheck* check_;
  bool checkRefused_ = false;
  int64_t* counted_;
  HeadVerdict verdict_ = HeadVerdict::kFail;
  bool headSeen_ = false;
  bool errorStatus_ = false;  // the server answered with a status other than 200
  uint32_t refusal_ = 0;
  int64_t remaining_ = 0;
  int64_t received_ = 0;
};

}  // namespace

FetchResult fetchWithRetries(DownloadSession& session, const HttpRequest& original, const FetchTarget& target,
                             const RetryPolicy& policy, BodyProof prove, void* proofContext) {
  if (policy.retries <= 0) {
    FetchResult once = fetchToTempFile(session, original);
    if (!once.ok()) supportLog().failed(original.objectPath, once.status.code());
    return once;
  }
  const std::atomic<bool>* cancel = session.cancel;
  Retrier retrier(policy, [] { return static_cast<uint32_t>(std::rand()); },
                  [cancel](int ms) {
                    for (int waited = 0; waited < ms; waited += 10) {
                      if (cancel && cancel->load()) return false;
                      std::this_thread::sleep_for(std::chrono::milliseconds(ms - waited < 10 ? ms - waited : 10));
                    }
                    return true;
                  });
  StagingFile staging(session.tempFile, target.digest, target.size);
  if (int64_t kept = staging.adoptLeftover()) supportLog().resuming(original.objectPath, kept, staging.point().validator);
  int64_t counted = 0;
  int startOvers = 0;
  bool proofFailed = false;
  FetchResult result;
  for (;;) {
    HttpRequest request = original;
    staging.prepare(request);
    ResumeSink sink(staging, session.progress, session.cancel, session.check, &counted);
    HttpResult http = session.client.get(request, sink);

    uint32_t code = 0;
    if (sink.verdict() == HeadVerdict::kStartOver && http.outcome == HttpOutcome::kRefused) {
      // The server cannot continue this partial: ask for the whole file.
      supportLog().startingOver(original.objectPath, "range not served");
      if (++startOvers <= 2) continue;
      code = kHttpErrorInvalidResponse;
    } else if (http.outcome == HttpOutcome::kNotStarted ||
               (http.outcome == HttpOutcome::kBroken && !sink.headSeen())) {
      code = http.code;
    } else if (http.outcome == HttpOutcome::kRefused || !sink.headSeen()) {
      code = sink.refusal() != 0 ? sink.refusal() : kHttpErrorInvalidResponse;
    } else if (sink.checkRefused()) {
      code = kFetchErrorRefused;
    } else if (staging.writeError() != 0) {
      code = platform::writeFailureCode(static_cast<uint32_t>(staging.writeError()), staging.path());
    } else if (sink.remaining() < 0) {
      code = kHttpErrorInvalidResponse;
      result.overrun = sink.remaining();
    } else if (http.outcome == HttpOutcome::kBroken) {
      code = http.code;
    } else if (sink.remaining() != 0) {
      code = kHttpErrorConnectionAborted;
    } else if (!staging.complete()) {
      code = platform::writeFailureCode(staging.writeError() != 0 ? static_cast<uint32_t>(staging.writeError()) : EIO,
                                        staging.path());
    } else if (session.check && !session.check->complete()) {
      if (staging.resumed() && !proofFailed) {
        // The staged part is not what it was (a disk fault, another
        // program): refused, and fetched whole once.
        supportLog().startingOver(original.objectPath, "resumed file refused by its check");
        proofFailed = true;
        staging.discard();
        continue;
      }
      code = kFetchErrorRefused;
    } else if (staging.resumed() && !session.check && !proofFailed && prove &&
               !prove(staging.path(), target, proofContext)) {
      // Pieces that do not make the listed file: fetch it whole, once. A
      // body check has seen every byte, the kept ones too: no second pass.
      supportLog().startingOver(original.objectPath, "resumed file failed its check");
      proofFailed = true;
      staging.discard();
      continue;
    } else {
      supportLog().fetched(original.objectPath, staging.written(), staging.resumedFrom(), retrier.retriesMade());
      result.status = Status();
      return result;
    }

    bool lastTry = (session.cancel && session.cancel->load()) || code == kFetchErrorRefused;
    if (!lastTry && result.overrun == 0 && retrier.again(code, sink.received())) {
      supportLog().retrying(original.objectPath, code, retrier.retriesMade(), retrier.lastDelayMs());
      staging.interrupted();
      if (staging.point().from > 0)
        supportLog().resuming(original.objectPath, staging.point().from, staging.point().validator);
      continue;
    }
    supportLog().failed(original.objectPath, code);
    if (code == kFetchErrorRefused) {
      staging.discard();  // what a signed release refused never waits for another run
      result.refused = true;
    } else if (platform::isDiskFullCode(code)) {
      staging.leaveAtCheckpoint();
    } else {
      staging.leave();
    }
    result.errorStatus = sink.errorStatus();
    result.status = Status::error(code, original.objectPath);
    return result;
  }
}

}  // namespace tvl
