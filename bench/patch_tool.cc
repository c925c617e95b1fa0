// Benchmark driver for binary patches: runs the publisher's and the
// launcher's code on prepared files so that bench/patch.sh can time them
// against `zstd --patch-from` and `cp`.
//   patch_tool make BASE TARGET PATCH [PIECE] prints the patch size (PIECE:
//                                            the publisher's --patch-piece-size)
//   patch_tool apply BASE PATCH OUTPUT MD5   prints the result
//   patch_tool memory BASE PATCH OUTPUT MD5  the same, sampling the process's
//                                            private memory (Linux); prints
//                                            its peak and the decoder's
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "platform/md5.h"
#include "release/patch_apply.h"
#include "release/patch_make.h"

namespace {

// The process's anonymous resident memory in KiB (RssAnon), or -1 where
// /proc does not tell.
long anonKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 8, "RssAnon:") == 0) return std::stol(line.substr(8));
  return -1;
}

// Samples RssAnon every millisecond while it lives: the kernel keeps a peak
// of the whole resident set only, which counts mapped file pages too.
class AnonPeak {
 public:
  AnonPeak() : thread_([this] {
    while (!stop_) {
      long now = anonKiB();
      if (now > peak_) peak_ = now;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }) {}
  long stop() {
    stop_ = true;
    thread_.join();
    return peak_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<long> peak_{-1};
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "make") == 0) {
    release::PatchMakeResult r;
    std::string error;
    uint64_t piece = argc == 6 ? std::strtoull(argv[5], nullptr, 10) : 0;
    if (!release::makePatch(argv[2], argv[3], argv[4], UINT64_MAX, &r, &error, {}, piece)) {
      std::fprintf(stderr, "patch_tool: %s\n", error.c_str());
      return 1;
    }
    std::printf("patch %llu bytes, pieces of %llu bytes\n", static_cast<unsigned long long>(r.size),
                static_cast<unsigned long long>(r.pieceSize));
    return 0;
  }
  bool sampled = argc == 6 && std::strcmp(argv[1], "memory") == 0;
  if (argc == 6 && (sampled || std::strcmp(argv[1], "apply") == 0)) {
    platform::Md5Provider md5;
    std::string error;
    if (!md5.acquire(&error)) {
      std::fprintf(stderr, "patch_tool: %s\n", error.c_str());
      return 1;
    }
    std::unique_ptr<AnonPeak> anon(sampled ? new AnonPeak : nullptr);
    release::PatchApplyResult r = release::applyPatch(md5, argv[2], argv[3], argv[4], argv[5]);
    long anonPeak = anon ? anon->stop() : -1;
    if (!r.ok()) {
      std::fprintf(stderr, "patch_tool: %s: %s\n", release::patchFailureName(r.failure), r.message.c_str());
      return 1;
    }
    std::printf("applied %llu bytes\n", static_cast<unsigned long long>(r.outputSize));
    if (sampled)
      std::printf("decoder %llu bytes, peak private %ld KiB\n", static_cast<unsigned long long>(r.peakMemory),
                  anonPeak);
    return 0;
  }
  std::fprintf(stderr, "usage: patch_tool make BASE TARGET PATCH [PIECE] | apply|memory BASE PATCH OUTPUT MD5\n");
  return 2;
}
