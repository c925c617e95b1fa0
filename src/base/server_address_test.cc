#include "base/server_address.h"

#include <gtest/gtest.h>

namespace tvl {
namespace {

TEST(ServerAddress, Forms) {
  struct Case {
    const char* setting;
    bool valid, secure;
    const char* host;
    int port;
  } cases[] = {
      // A bare host keeps its original meaning, whatever it holds.
      {"update.example.net", true, false, "update.example.net", 80},
      {"127.0.0.1:8080", true, false, "127.0.0.1:8080", 80},
      {"", true, false, "", 80},
      {"http://update.example.net", true, false, "update.example.net", 80},
      {"HTTPS://update.example.net", true, true, "update.example.net", 443},
      {"https://update.example.net:8443/", true, true, "update.example.net", 8443},
      {"http://127.0.0.1:81", true, false, "127.0.0.1", 81},
      {"https://[::1]:8443", true, true, "[::1]", 8443},
      {"https://[::1]", true, true, "[::1]", 443},
      {"ftp://update.example.net", false, false, "update.example.net", 80},
      {"https://", false, true, "", 443},
      {"https://host:0", false, true, "host", 0},
      {"https://host:65536", false, true, "host", 0},
      {"https://host:44x", false, true, "host", 0},
      {"https://host:", false, true, "host", 0},
      {"https://host/3d/", false, true, "host/3d", 443},
      {"https://user@host", false, true, "user@host", 443},
  };
  for (const Case& c : cases) {
    ServerAddress a = parseServerAddress(c.setting);
    EXPECT_EQ(a.valid, c.valid) << c.setting;
    if (!c.valid) continue;
    EXPECT_EQ(a.secure, c.secure) << c.setting;
    EXPECT_EQ(a.host, c.host) << c.setting;
    EXPECT_EQ(a.port, c.port) << c.setting;
  }
}

TEST(MirrorList, EntriesInOrderWithTheirPaths) {
  std::vector<MirrorAddress> m =
      parseMirrorList(" m1.example.net, 10.0.0.2:8080/tervalis/ https://m3.example.net:8443/a/b,,ftp://x http://:1 m4");
  std::vector<std::pair<std::string, std::string>> got;
  for (const MirrorAddress& a : m) got.push_back({a.server, a.prefix});
  EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{{"http://m1.example.net", ""},
                                                                    {"http://10.0.0.2:8080", "/tervalis"},
                                                                    {"https://m3.example.net:8443", "/a/b"},
                                                                    {"http://m4", ""}}));
  EXPECT_TRUE(parseMirrorList("").empty());
}

}  // namespace
}  // namespace tvl
