#include "launcher/command_line.h"

#include <gtest/gtest.h>

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
