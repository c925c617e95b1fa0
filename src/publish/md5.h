// MD5 of a byte stream, as the 32 upper-case hexadecimal digits the file
// lists carry. One backend per platform (md5_posix.cc: OpenSSL,
// md5_win32.cc: PortableMd5); not thread-safe, use one object per thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace publish {

class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  void update(const void* data, size_t size);
  // Ends the stream: 32 upper-case hex digits. The object is reset after it.
  std::string hexDigest();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The digest text of a whole byte string.
inline std::string md5Of(const std::string& bytes) {
  Md5 m;
  m.update(bytes.data(), bytes.size());
  return m.hexDigest();
}

// Upper-case hexadecimal text of bytes.
std::string toHexUpper(const unsigned char* bytes, size_t size);

}  // namespace publish
