// The progress of one update run, written by the worker and read by whoever
// shows it (the splash window, the terminal line).
//
// Thread safety: the setters and snapshot() hold one lock, so a reader
// always sees one consistent state. The listener is told after changes; it
// must never block on the display.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace tvl {


struct ProgressSnapshot {
  std::string currentFile;
  int64_t bytesDone = 0;
  int64_t bytesTotal = 0;
};

// a + b, held at the int64_t bounds instead of wrapping.
int64_t saturatingAdd(int64_t a, int64_t b);

class Progress;

class ProgressListener {
 public:
  virtual ~ProgressListener() = default;
  // Called on the worker thread after a change.
  virtual void progressChanged(const Progress& progress) = 0;
};

class Progress {
 public:
  explicit Progress(ProgressListener* listener = nullptr) : listener_(listener) {}
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void setCurrentFile(const std::string& name);
  // Adds to bytesDone (saturating) when bytesTotal is not 0.
  void addBytesDone(int64_t count);
  void setBytesTotal(int64_t total);
  // Clears notifyPending before it reads: whatever changes afterwards is
  // announced again.
  ProgressSnapshot snapshot() const;

  // Tells the listener, if any, that the progress changed.
  void notify() const {
    if (listener_) listener_->progressChanged(*this);
  }

  // Set while a notification is on its way to the display and the display
  // has not read the progress since; a listener may skip posting another
  // meanwhile (the display will read the newest values anyway).
  mutable std::atomic<bool> notifyPending{false};

 private:
  ProgressListener* listener_;
  mutable std::mutex lock_;
  std::string currentFile_;
  int64_t bytesDone_ = 0;
  int64_t bytesTotal_ = 0;
};

}  // namespace tvl
