// SHA-256 through the system: CNG (BCrypt) on Windows, OpenSSL elsewhere.
// Both use the CPU's SHA instructions where it has them, several times the
// speed of a portable implementation.
//
// An object hashes one stream at a time and belongs to one thread; objects
// on several threads are independent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;

  // False once anything in this stream has failed (a system call).
  bool update(const void* data, size_t size);
  // Ends the stream; the next update starts a new one. False, with no
  // digest, when the stream failed: a failed hash never stands for bytes.
  bool final(Sha256Digest* digest);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
