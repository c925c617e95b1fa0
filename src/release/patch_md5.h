// Streaming MD5 for checking what a patch produced, as the 32 upper-case
// hexadecimal digits the file lists carry. One backend per platform
// (patch_md5_posix.cc: OpenSSL, patch_md5_win32.cc: CryptoAPI).
//
// Stand-in: the launcher's own MD5 (update/local_hash) hashes a whole mapped
// file through the updater's provider and cannot take a stream. Replace this
// with the platform's streaming MD5 once it exists; the interface is the
// same shape. Not thread-safe; one object per stream.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace release {

class PatchMd5 {
 public:
  PatchMd5();
  ~PatchMd5();
  PatchMd5(const PatchMd5&) = delete;
  PatchMd5& operator=(const PatchMd5&) = delete;

  // False once the backend has failed; the digest is then "".
  bool ok() const;
  void update(const void* data, size_t size);
  // Ends the stream (call once): 32 upper-case hex digits, or "" after a
  // failure.
  std::string hexDigest();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace release
