// What a server setting ("update_server", "icons_server") names: a bare host
// (plain HTTP on port 80, the setting's original meaning), or
// "http://host[:port]" or "https://host[:port]".
#pragma once

#include <cstdint>
#include <string>

namespace tvl {


struct ServerAddress {
  bool valid = true;
  bool secure = false;  // https
  std::string host;
  uint16_t port = 80;
};

// A setting without "://" is a bare host, taken as it is. With a scheme the
// scheme (any letter case) must be http or https, the host must not be
// empty, a port must be 1 to 65535, and nothing but one "/" may follow;
// anything else is not valid.
ServerAddress parseServerAddress(const std::string& setting);

}  // namespace tvl
