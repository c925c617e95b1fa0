// Turning one file into what is served for it: a zip archive with the file
// as its only member (game files, the main list), or a plain copy (clan
// icons). Every function reads its input once per attempt, in chunks, and
// hashes while it reads (through an acquired provider), so large files never
// sit in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {
class Md5Provider;
}

namespace publish {

struct PackResult {
  std::string md5;          // of the input's bytes
  uint64_t size = 0;        // input bytes read
  uint64_t outputSize = 0;  // bytes written to the target
  std::string sha256;       // of the target, lower-case hex, where the same pass gave it (copies)
  bool deflated = false;
};

// Called with the number of input bytes just processed (progress).
using ByteCounter = std::function<void(uint64_t)>;

// Writes `target` as a zip archive with one member `memberName` holding the
// bytes of `source`: deflated at `level` (1-9) unless that does not make it
// smaller, stored otherwise. The member carries `stamp` as its DOS time and
// in a "UT" extra field; everything else is fixed, so equal inputs give equal
// bytes.
bool packFile(const platform::Md5Provider& md5, const std::string& source, const std::string& memberName, int64_t stamp,
              int level, const std::string& target, PackResult* result, std::string* error,
              const ByteCounter& counter = {});

// The same for bytes in memory (the file list).
bool packBytes(const platform::Md5Provider& md5, const std::string& bytes, const std::string& memberName, int64_t stamp,
               int level, const std::string& target, PackResult* result, std::string* error);

// Copies `source` to `target` unchanged, hashing on the way (MD5 and SHA-256).
bool copyFile(const platform::Md5Provider& md5, const std::string& source, const std::string& target,
              PackResult* result, std::string* error, const ByteCounter& counter = {});

// MD5 and size of a file.
bool hashFile(const platform::Md5Provider& md5, const std::string& source, PackResult* result, std::string* error,
              const ByteCounter& counter = {});

// Writes bytes to a file; false with a message on any failure.
bool writeWholeFile(const std::string& path, const std::string& bytes, std::string* error);

// Reads a whole file; false when it cannot be read.
bool readWholeFile(const std::string& path, std::string* bytes);

}  // namespace publish
