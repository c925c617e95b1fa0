#include "launcher/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace tvl {


namespace {
GameSettings game(const char* server, const char* socks, const char* socksPort, const char* port, const char* editor) {
  return GameSettings{server, socks, socksPort, port, editor};
}
}  // namespace

TEST(BuildGameCommandLine, Rules) {
  struct Case {
    const char* line;
    GameSettings g;
    const char* want;
  } cases[] = {
      // the worked example: /editor picks the editor port
      {"D:\\Game\\TervalisOnline2D.exe /editor", game("S", "", "", "3801", "5191"),
       "D:\\Game\\TervalisOnline2D.exe /editor /server=S /port=5191"},
      {"T.exe", game("1.2.3.4", "", "", "3801", "5191"), "T.exe /server=1.2.3.4 /port=3801"},
      // an empty server value is still appended
      {"T.exe", game("", "", "", "", ""), "T.exe /server="},
      // the user's own /server=, in any case, suppresses rule 1
      {"T.exe /SERVER=me", game("S", "", "", "1", "2"), "T.exe /SERVER=me /port=1"},
      // proxy pair, port may be empty
      {"T.exe", game("S", "px", "", "1", "2"), "T.exe /server=S /proxyServer=px /proxyPort= /port=1"},
      {"T.exe", game("S", "px", "1080", "1", "2"), "T.exe /server=S /proxyServer=px /proxyPort=1080 /port=1"},
      // socks port without server is ignored
      {"T.exe", game("S", "", "1080", "1", "2"), "T.exe /server=S /port=1"},
      // user's /proxyserver= suppresses both proxy switches
      {"T.exe /proxyserver=u", game("S", "px", "9", "1", "2"), "T.exe /proxyserver=u /server=S /port=1"},
      // /proxyPort= alone does not count
      {"T.exe /proxyPort=7", game("S", "px", "9", "1", "2"),
       "T.exe /proxyPort=7 /server=S /proxyServer=px /proxyPort=9 /port=1"},
      // /editor with an empty editor port: no port at all
      {"T.exe /Editor", game("S", "", "", "1", ""), "T.exe /Editor /server=S"},
      // no rule looks for /port=: the user's comes first
      {"T.exe /port=9", game("S", "", "", "1", "2"), "T.exe /port=9 /server=S /port=1"},
      // switches hidden inside values count: a server value naming /editor
      {"T.exe", game("h/editor", "", "", "1", "2"), "T.exe /server=h/editor /port=2"},
      // ... or /proxyServer=
      {"T.exe", game("x/proxyServer=y", "px", "9", "1", "2"), "T.exe /server=x/proxyServer=y /port=1"},
      // inside the program path
      {"C:\\my/editor\\T.exe", game("S", "", "", "1", "2"), "C:\\my/editor\\T.exe /server=S /port=2"},
      // everything the user gave reaches the game unchanged and first
      {"\"C:\\G\\T.exe\" /noserver /externlogin=Tervalis3D://abc", game("S", "", "", "1", "2"),
       "\"C:\\G\\T.exe\" /noserver /externlogin=Tervalis3D://abc /server=S /port=1"},
  };
  for (const Case& c : cases) EXPECT_EQ(buildGameCommandLine(c.line, c.g), c.want) << c.line;
}

TEST(ShouldUpdate, Table) {
  ConnectionSettings withHost;
  withHost.update.host = "upd";
  ConnectionSettings noHost;
  struct Case {
    const char* line;
    const ConnectionSettings* s;
    bool want;
  } cases[] = {
      {"T.exe", &withHost, true},
      {"T.exe", &noHost, false},
      {"T.exe /disableupdate", &withHost, false},
      {"T.exe /DisableUpdate", &withHost, false},
      {"T.exe /NOSERVER", &withHost, false},
      {"T.exe /eDiToR", &withHost, false},
      {"T.exe /server=x/editor", &withHost, false},  // inside a value
      {"C:\\noserver\\T.exe", &withHost, true},      // no slash before it
      {"C:/noserver/T.exe", &withHost, false},       // inside the path
      {"T.exe /server=a /proxyServer=b /port=1", &withHost, true},
      {"T.exe /disable update", &withHost, true},
  };
  for (const Case& c : cases) EXPECT_EQ(shouldUpdate(c.line, *c.s), c.want) << c.line;
}

// Whatever a link holds, the launcher obeys only the switches before it; the
// link reaches the game in its place, blanks, quotes and control characters
// encoded, ahead of the appended switches.
TEST(Links, CannotSteerTheLauncher) {
  ConnectionSettings s;
  s.update.host = "upd";
  s.game = game("S", "px", "9", "1", "2");
  const std::string all = " /server=S /proxyServer=px /proxyPort=9 /port=1";
  struct Case {
    std::string line;
    bool update;
    std::string game;
  } cases[] = {
      {"\"C:\\G\\T.exe\" /externlogin=tervalis3d://join/disableupdate/server=6.6.6.6", true,
       "\"C:\\G\\T.exe\" /externlogin=tervalis3d://join/disableupdate/server=6.6.6.6" + all},
      {"T.exe /externlogin=x/NOSERVER", true, "T.exe /externlogin=x/NOSERVER" + all},
      {"T.exe /externlogin=x/EdItOr", true, "T.exe /externlogin=x/EdItOr" + all},
      {"T.exe /externlogin=x/ProxyServer=evil/proxyPort=1/port=7", true,
       "T.exe /externlogin=x/ProxyServer=evil/proxyPort=1/port=7" + all},
      {"T.exe /ExternLogin=x/editor", true, "T.exe /ExternLogin=x/editor" + all},
      // blanks and quotes cannot end the link's argument for the game
      {"T.exe /externlogin=x /port=9 /server=6.6.6.6", true, "T.exe /externlogin=x%20/port=9%20/server=6.6.6.6" + all},
      {"T.exe /externlogin=x\" /server=6.6.6.6 \"", true, "T.exe /externlogin=x%22%20/server=6.6.6.6%20%22" + all},
      {"T.exe /externlogin=a\tb\r\n\x7F/disableupdate", true, "T.exe /externlogin=a%09b%0D%0A%7F/disableupdate" + all},
      // nothing else changes: '%' is not encoded twice, high bytes stay
      {"T.exe /externlogin=t://a%20b%ZZ\xC0", true, "T.exe /externlogin=t://a%20b%ZZ\xC0" + all},
      {"T.exe /externlogin=", true, "T.exe /externlogin=" + all},
      // user switches before the link keep every rule
      {"T.exe /disableupdate /Server=mine /externlogin=x/server=6", false,
       "T.exe /disableupdate /Server=mine /externlogin=x/server=6 /proxyServer=px /proxyPort=9 /port=1"},
      {"T.exe /EDITOR /externlogin=x", false, "T.exe /EDITOR /externlogin=x /server=S /proxyServer=px /proxyPort=9 /port=2"},
      {"T.exe /proxyserver=u /externlogin=x", true, "T.exe /proxyserver=u /externlogin=x /server=S /port=1"},
      // switches typed after the link are the link's text
      {"T.exe /externlogin=x /noserver", true, "T.exe /externlogin=x%20/noserver" + all},
      {"T.exe /externlogin=a /EXTERNLOGIN=b/editor", true, "T.exe /externlogin=a%20/EXTERNLOGIN=b/editor" + all},
      // the link's argument in quotes, as the POSIX build writes it: the
      // quoting goes, the link stays one encoded argument
      {"/opt/T \"/externlogin=t://a b\\\"c\"", true, "/opt/T /externlogin=t://a%20b%22c" + all},
      {"/opt/T \"/externlogin=t://a b\\\"", true, "/opt/T /externlogin=t://a%20b\\" + all},
      {"/opt/T \"/externlogin=a b\" /editor", true, "/opt/T /externlogin=a%20b%22%20/editor" + all},
      // the program path's closing quote is not the link's
      {"\"C:\\G\\T.exe\"/externlogin=x", true, "\"C:\\G\\T.exe\"/externlogin=x" + all},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shouldUpdate(c.line, s), c.update) << c.line;
    EXPECT_EQ(buildGameCommandLine(c.line, s.game), c.game) << c.line;
  }
  // Appended values still count for the later rules.
  EXPECT_EQ(buildGameCommandLine("T.exe /externlogin=x", game("h/editor", "", "", "1", "2")),
            "T.exe /externlogin=x /server=h/editor /port=2");
}

TEST(Links, EncodesOnlyBlanksQuotesAndControls) {
  for (int b = 1; b < 256; ++b) {
    const std::string in(1, static_cast<char>(b));
    const bool encoded = b <= 0x20 || b == '"' || b == 0x7F;
    char hex[4];
    snprintf(hex, sizeof hex, "%%%02X", b);
    EXPECT_EQ(encodeLink(in), encoded ? std::string(hex) : in) << b;
  }
}

}  // namespace tvl
