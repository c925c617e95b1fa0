// MD5 through the system: CryptoAPI on Windows (a provider on the key
// container "UpdatePacker", created on first use and never removed), OpenSSL
// elsewhere. Digests travel as 32 upper-case hexadecimal digits.
//
// Threads may share one acquired provider; each needs its own Md5.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

using Md5Digest = std::array<uint8_t, 16>;

class Md5Provider {
 public:
  Md5Provider();
  ~Md5Provider();
  Md5Provider(Md5Provider&&) noexcept;
  Md5Provider& operator=(Md5Provider&&) noexcept;

  // Opens the provider; true when it is held (also when it already was).
  bool acquire(std::string* error = nullptr);
  void release();
  bool valid() const { return impl_ != nullptr; }

 private:
  friend class Md5;
  struct Impl;
  bool open(std::string* error);  // the system's part of acquire()
  std::unique_ptr<Impl> impl_;
};

// One digest at a time over a stream of bytes. The provider must outlive it.
class Md5 {
 public:
  explicit Md5(const Md5Provider& provider);
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  // False once anything has failed (no provider, a system call).
  bool update(const void* data, size_t size);
  // Ends the stream; the next update starts a new one.
  bool final(Md5Digest* digest);
  // final() as hexadecimal text; "" on failure.
  std::string finalHex();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The digest of one range, e.g. a whole mapped file; false on failure.
bool md5Of(const Md5Provider& provider, const void* data, size_t size, Md5Digest* digest);
// The same as text; "" on failure.
std::string md5HexOf(const Md5Provider& provider, const void* data, size_t size);

// Tests only: while set, acquire() fails as if the system had refused.
void failMd5ProviderForTesting(bool fail);

}  // namespace platform
