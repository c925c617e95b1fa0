#include "base/server_address.h"

#include "base/text.h"

namespace tvl {


ServerAddress parseServerAddress(const std::string& setting) {
  ServerAddress a;
  size_t sep = setting.find("://");
  if (sep == std::string::npos) {
    a.host = setting;
    return a;
  }
  std::string scheme = setting.substr(0, sep);
  a.secure = equalsNoCase(scheme, "https");
  a.port = a.secure ? 443 : 80;
  std::string rest = setting.substr(sep + 3);
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  size_t colon = rest.rfind(':');
  // A bracketed IPv6 address holds colons of its own.
  if (colon != std::string::npos && rest.find(']', colon) != std::string::npos) colon = std::string::npos;
  a.host = rest.substr(0, colon);
  bool ok = (a.secure || equalsNoCase(scheme, "http")) && !a.host.empty() &&
            a.host.find_first_of("/?#@ \t") == std::string::npos;
  if (ok && colon != std::string::npos) {
    std::string digits = rest.substr(colon + 1);
    long port = 0;
    ok = !digits.empty() && digits.size() <= 5;
    for (char c : digits) {
      ok = ok && c >= '0' && c <= '9';
      port = port * 10 + (c - '0');
    }
    ok = ok && port >= 1 && port <= 65535;
    a.port = static_cast<uint16_t>(ok ? port : 0);
  }
  a.valid = ok;
  return a;
}

std::vector<MirrorAddress> parseMirrorList(const std::string& setting) {
  std::vector<MirrorAddress> out;
  size_t pos = 0;
  while (pos < setting.size()) {
    size_t end = setting.find_first_of(", \t", pos);
    if (end == std::string::npos) end = setting.size();
    std::string entry = setting.substr(pos, end - pos);
    pos = end + 1;
    if (entry.empty()) continue;
    size_t scheme = entry.find("://");
    size_t slash = entry.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    MirrorAddress m;
    m.server = entry.substr(0, slash);
    if (slash != std::string::npos) m.prefix = entry.substr(slash);
    while (!m.prefix.empty() && m.prefix.back() == '/') m.prefix.pop_back();
    if (scheme == std::string::npos) m.server = "http://" + m.server;
    ServerAddress a = parseServerAddress(m.server);
    if (!a.valid || m.prefix.find_first_of("?#") != std::string::npos) continue;
    out.push_back(m);
  }
  return out;
}

}  // namespace tvl
