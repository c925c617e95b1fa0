// What a server setting ("update_server", "icons_server") names: a bare host
// (plain HTTP on port 80, the setting's original meaning), or
// "http://host[:port]" or "https://host[:port]".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// One server of "update_mirrors": what a server setting takes ("host[:port]"
// without a scheme means plain HTTP), optionally followed by a path that
// goes before update_path and icons_path on that server.
struct MirrorAddress {
  std::string server;  // as a server setting spells it
  std::string prefix;  // "" or "/path", without a trailing "/"
};

// The entries of the setting, separated by commas or spaces, in order;
// entries that name no server are left out.
std::vector<MirrorAddress> parseMirrorList(const std::string& setting);

}  // namespace tvl
