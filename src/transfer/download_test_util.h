// Shared by the download tests: a scratch program directory with an Updater,
// message boxes recorded instead of shown, and zip archives built on the fly.
#pragma once

#include <gtest/gtest.h>
#include <zip.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/message_box.h"
#include "platform/process.h"
#include "test_util.h"
#include "transfer/paths.h"
#include "update/updater.h"

namespace tvl {


struct RecordedBox {
  std::string text, caption;
  unsigned style;
};

inline std::vector<RecordedBox>& recordedBoxes() {
  static std::vector<RecordedBox> boxes;
  return boxes;
}

inline int recordBox(const std::string& text, const std::string& caption, unsigned style) {
  recordedBoxes().push_back({text, caption, style});
  return platform::kIdOk;
}

// Runs each test in a fresh program directory (the working directory) with a
// data folder and a constructed Updater.
class StagingTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = platform::currentDirectory();
    ASSERT_TRUE(platform::setCurrentDirectory(dir_.path()));
    std::filesystem::create_directories(dir_.file("data"));
    updater_.reset(new Updater(testutil::settings(), nullptr));
    recordedBoxes().clear();
    platform::setMessageBoxHandlerForTesting(recordBox);
  }
  void TearDown() override {
    platform::setMessageBoxHandlerForTesting(nullptr);
    updater_.reset();
    platform::setCurrentDirectory(saved_);
  }
  std::string path(const std::string& relative) const { return dir_.file(relative); }
  // What is in data/update/ besides the lock (POSIX keeps its file) and the
  // record of the accepted release.
  std::vector<std::string> staged() const {
    std::vector<std::string> names;
    for (const auto& f : std::filesystem::directory_iterator(dir_.file("data/update"))) {
      std::string name = f.path().filename().string();
      if (name != "update.lock" && name != "release.txt") names.push_back(name);
    }
    return names;
  }
  // The staging file, as a path the test's own file helpers take.
  std::string tempPath() const { return dir_.file("data/update/update.tmp"); }

  testutil::TempDir dir_;
  std::string saved_;
  std::unique_ptr<Updater> updater_;
};

// Tells when a run waits for another one's end (done: set by the test).
class WaitWatch : public ProgressListener {
 public:
  void progressChanged(const Progress& progress) override {
    if (progress.snapshot().currentFile != kWaitingForOtherRunText) return;
    std::lock_guard<std::mutex> hold(lock);
    waiting = true;
    changed.notify_all();
  }
  std::mutex lock;
  std::condition_variable changed;
  bool waiting = false, done = false;
};

// A zip archive of (name, data) items, deflated.
inline void writeZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& items) {
  zipFile z = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(z, nullptr) << path;
  for (const auto& item : items) {
    zip_fileinfo info = {};
    ASSERT_EQ(zipOpenNewFileInZip(z, item.first.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                  Z_DEFAULT_COMPRESSION),
              ZIP_OK);
    ASSERT_EQ(zipWriteInFileInZip(z, item.second.data(), static_cast<unsigned>(item.second.size())), ZIP_OK);
    ASSERT_EQ(zipCloseFileInZip(z), ZIP_OK);
  }
  ASSERT_EQ(zipClose(z, nullptr), ZIP_OK);
}

// The bytes of a zip archive holding one item.
inline std::string zipOf(const std::string& name, const std::string& data) {
  std::string path = testutil::TempDir().path() + ".zip";
  writeZip(path, {{name, data}});
  std::string bytes = testutil::readFile(path);
  std::remove(path.c_str());
  return bytes;
}

}  // namespace tvl
