// Signs any text as a release manifest, for tests and benchmarks that need
// manifests the publisher never writes (expired ones, say).
//   releasetool sign SECRET_KEY_FILE BODY_FILE OUT_FILE
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "release/keys.h"
#include "release/manifest.h"

namespace {

bool readAll(const char* path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  *out = text.str();
  return static_cast<bool>(in) || in.eof();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 || std::string(argv[1]) != "sign") {
    std::fputs("usage: releasetool sign SECRET_KEY_FILE BODY_FILE OUT_FILE\n", stderr);
    return 2;
  }
  std::string keyText, body, error;
  release::SecretKey key;
  if (!readAll(argv[2], &keyText) || !release::parseSecretKeyFile(keyText, &key, &error)) {
    std::fprintf(stderr, "releasetool: %s: %s\n", argv[2], error.empty() ? "cannot read" : error.c_str());
    return 1;
  }
  if (!readAll(argv[3], &body)) {
    std::fprintf(stderr, "releasetool: cannot read %s\n", argv[3]);
    return 1;
  }
  std::ofstream out(argv[4], std::ios::binary);
  out << release::signManifestBody(body, key);
  return out.flush() ? 0 : 1;
}
