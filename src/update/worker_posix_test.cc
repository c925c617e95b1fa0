// The one road on which the worker returns: the digest provider is refused.
#include <gtest/gtest.h>

#include <filesystem>

#include "launcher/settings.h"
#include "platform/process.h"
#include "test_util.h"
#include "transfer/updater.h"
#include "update/headless.h"
#include "update/local_hash.h"
#include "update/worker.h"

namespace {

class RefusedProvider : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = platform::currentDirectory();
    ASSERT_TRUE(platform::setCurrentDirectory(dir_.path()));
    std::filesystem::create_directories(dir_.file("data"));
    // Nothing listens here: a request would end the test process.
    connectionSettings.update = ServerLocation{"127.0.0.1", "/never/"};
    failCryptProviderForTesting(true);
  }
  void TearDown() override {
    failCryptProviderForTesting(false);
    connectionSettings.update = ServerLocation();
    platform::setCurrentDirectory(saved_);
  }
  testutil::TempDir dir_;
  std::string saved_;
};

TEST_F(RefusedProvider, WorkerReturnsBeforeAnyRequest) {
  Updater updater(nullptr, nullptr);
  theUpdater = &updater;
  runUpdate();
  theUpdater = nullptr;
  EXPECT_EQ(updater.progress().currentFile, "");
  EXPECT_FALSE(testutil::exists(dir_.file("data/update/update.tmp")));
}

TEST_F(RefusedProvider, HeadlessRunSaysSoAndFails) {
  EXPECT_EXIT(runHeadlessUpdate(nullptr), testing::ExitedWithCode(1), "cryptographic provider");
}

}  // namespace
