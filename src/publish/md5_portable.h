// A self-contained MD5 (RFC 1321) for builds without a crypto library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace publish {

class PortableMd5 {
 public:
  PortableMd5() { reset(); }
  void reset();
  void update(const void* data, size_t size);
  void finish(unsigned char digest[16]);  // resets afterwards

 private:
  void block(const unsigned char* p);
  uint32_t a_, b_, c_, d_;
  uint64_t length_;  // bytes seen
  unsigned char buffer_[64];
  size_t buffered_;
};

}  // namespace publish
