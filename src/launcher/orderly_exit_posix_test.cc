// The close box and the system close end the process through the orderly
// exit while the worker may still be reading the settings and the program
// directory: nothing it reads may be torn down under it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "launcher/settings.h"
#include "platform/process.h"
#include "transfer/paths.h"

namespace tvl {


namespace {

[[noreturn]] void exitWhileReading() {
  // Longer than any short-string buffer: the text lives on the heap.
  connectionSettings.update.host = std::string(300, 'u');
  connectionSettings.game.gameServer = std::string(300, 'g');
  baseDir = std::string(300, 'b');
  static std::atomic<long> reads{0};
  for (int i = 0; i < 2; ++i) {
    std::thread([] {
      for (;;) {
        std::string a = connectionSettings.update.host + connectionSettings.game.gameServer + baseDir;
        if (a.size() != 900) std::abort();
        reads.fetch_add(1);
      }
    }).detach();
  }
  while (reads.load() < 1000) std::this_thread::yield();
  platform::exitNormally(0);
}

TEST(OrderlyExit, WorkersStillReadingSettingsDoNotBreakTheExit) {
  for (int round = 0; round < 20; ++round)
    EXPECT_EXIT(exitWhileReading(), testing::ExitedWithCode(0), "") << "round " << round;
}

}  // namespace

}  // namespace tvl
