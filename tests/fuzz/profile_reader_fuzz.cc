// The settings reader over arbitrary bytes: no crash or undefined behaviour,
// results never exceed the buffer, and a key that reads back its default is
// consistent with a missing key.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/profile_reader.h"

using namespace tvl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  static const char* keys[] = {"update_server", "update_path", "game_port", "socks_server", ""};
  for (const char* key : keys) {
    for (size_t buffer : {size_t(1), size_t(8), kProfileBufferSize}) {
      std::string v = profileGetString(&text, "Connection", key, "def", buffer);
      if (v.size() >= buffer) std::abort();
    }
    std::string full = profileGetString(&text, "Connection", key, "def", kProfileBufferSize);
    // Names match without regard to case.
    std::string upper = key;
    for (char& c : upper)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (profileGetString(&text, "CONNECTION", upper, "def", kProfileBufferSize) != full) std::abort();
  }
  return 0;
}
