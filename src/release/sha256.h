// SHA-256 (the platform's) of streams, and the check of a file against its
// manifest entry while it is being received.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sha256.h"

namespace release {

using Digest = std::array<unsigned char, 32>;

class Sha256 {
 public:
  void update(const void* data, size_t size) { hash_.update(data, size); }
  // Ends the stream; the object starts a new one afterwards. False when the
  // system failed to hash (never a digest of bytes it did not see).
  bool finish(Digest* digest) { return hash_.final(digest); }
  // The same where a failure needs no telling apart: all zeros, which no
  // manifest names for real bytes.
  Digest finish();

 private:
  platform::Sha256 hash_;
};

Digest sha256Of(const void* data, size_t size);

// Size and SHA-256 of a whole file, read in chunks; false with a message.
bool sha256File(const std::string& path, Digest* digest, uint64_t* size, std::string* error);

// Checks received bytes against an expected size and digest as they arrive.
// Bytes beyond the expected size are never hashed: the first chunk that
// crosses it is refused and the check stays failed, so the caller can stop
// reading at once. remaining() tells how much more may still come.
class ReceiveCheck {
 public:
  enum class Result { Match, TooShort, TooLong, WrongDigest };

  ReceiveCheck(uint64_t expectedSize, const Digest& expectedDigest);

  // False once more bytes than expected have arrived (this chunk included).
  bool feed(const void* data, size_t size);
  uint64_t received() const { return received_; }
  uint64_t remaining() const { return overrun_ ? 0 : expectedSize_ - received_; }
  // At the end of the stream.
  Result finish();

 private:
  uint64_t expectedSize_;
  Digest expectedDigest_;
  uint64_t received_ = 0;
  bool overrun_ = false;
  Sha256 hash_;
};

// "more bytes than announced", ... for logs and messages.
const char* describe(ReceiveCheck::Result result);

}  // namespace release
