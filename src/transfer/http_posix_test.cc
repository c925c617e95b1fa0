// The network thread that multiplexes secure transfers ends with the
// process's orderly exit, before the exit handlers of libcurl and OpenSSL
// tear down what it uses.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "transfer/http.h"

namespace tvl {


namespace {

int threadCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

struct NoBody : HttpSink {
  bool onData(const char*, size_t) override { return true; }
};

[[noreturn]] void exitAfterASecureRequest() {
  // Registered before libcurl starts: runs after everything it registers.
  std::atexit([] {
    if (threadCount() != 1) _exit(3);
  });
  HttpRequest r;
  r.host = "127.0.0.1";
  r.port = 1;  // nobody listens: refused at once
  r.secure = true;
  r.reuseConnection = true;  // the multiplexed road
  r.objectPath = "/f";
  NoBody sink;
  HttpResult result = platformHttpClient().get(r, sink);
  if (result.outcome != HttpOutcome::kNotStarted || result.code != kHttpErrorCannotConnect) _exit(4);
  std::exit(0);
}

TEST(CurlTransport, NetworkThreadEndsAtTheOrderlyExit) {
  // A process of its own, whose client has not started yet.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(exitAfterASecureRequest(), testing::ExitedWithCode(0), "");
}

}  // namespace

}  // namespace tvl
