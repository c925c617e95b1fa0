// Runs numbered jobs on a few threads; the publisher's packing, hashing and
// patch making all go through it.
#pragma once

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace publish {

// Calls fn(i, &error) for i in [0, count) on up to `threads` threads; the
// first failure stops the rest from starting and its message is returned.
template <typename Fn>
bool runPool(unsigned threads, size_t count, Fn fn, std::string* error) {
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex errorLock;
  auto worker = [&]() {
    for (;;) {
      if (failed.load()) return;
      size_t i = next.fetch_add(1);
      if (i >= count) return;
      std::string err;
      if (!fn(i, &err)) {
        std::lock_guard<std::mutex> lock(errorLock);
        if (!failed.exchange(true)) *error = err;
        return;
      }
    }
  };
  unsigned n = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(std::min<size_t>(count, 256))));
  std::vector<std::thread> pool;
  for (unsigned i = 1; i < n; ++i) pool.emplace_back(worker);
  worker();
  for (std::thread& t : pool) t.join();
  return !failed.load();
}

}  // namespace publish
