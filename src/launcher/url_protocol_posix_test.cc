#include "launcher/url_protocol_posix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "test_util.h"

namespace tvl {


TEST(DesktopExecArgument, Table) {
  struct Case {
    const char* arg;
    const char* want;
  } cases[] = {
      {"/opt/tervalis/TervalisOnline2D", "/opt/tervalis/TervalisOnline2D"},
      {"/home/u/My Games/TervalisOnline2D", "\"/home/u/My Games/TervalisOnline2D\""},
      {"/g/100%/T", "/g/100%%/T"},
      {"/g/a$b`c\"d\\e", "\"/g/a\\$b\\`c\\\"d\\\\e\""},
      {"/g/(x)", "\"/g/(x)\""},
      {"", "\"\""},
  };
  for (const Case& c : cases) EXPECT_EQ(desktopExecArgument(c.arg), c.want) << c.arg;
}

TEST(DesktopEntry, NamesTheSchemeAndTheCommand) {
  std::string t = desktopEntryText("/opt/t/TervalisOnline2D");
  EXPECT_EQ(t.rfind("[Desktop Entry]\n", 0), 0u);
  EXPECT_NE(t.find("\nMimeType=x-scheme-handler/tervalis3d;\n"), std::string::npos);
  EXPECT_NE(t.find("\nExec=/opt/t/TervalisOnline2D /externlogin=%u\n"), std::string::npos);
  EXPECT_NE(t.find("\nName=TervalisOnline2D\n"), std::string::npos);
  EXPECT_NE(t.find("\nType=Application\n"), std::string::npos);
  // A backslash inside the quoted path is escaped once for the quoting and
  // once more for the file's string syntax: four in all.
  t = desktopEntryText("/g/a b\\c");
  EXPECT_NE(t.find("\nExec=\"/g/a b\\\\\\\\c\" /externlogin=%u\n"), std::string::npos) << t;
}

TEST(MimeApps, DefaultHandlerSetKeepingTheRest) {
  const std::string mime = "x-scheme-handler/tervalis3d";
  const std::string desk = "tervalis3d-launcher.desktop";
  struct Case {
    std::string in, want;
  } cases[] = {
      {"", "[Default Applications]\nx-scheme-handler/tervalis3d=tervalis3d-launcher.desktop;\n"},
      {"[Added Associations]\ntext/plain=gedit.desktop;\n",
       "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n"
       "x-scheme-handler/tervalis3d=tervalis3d-launcher.desktop;\n"},
      {"[Default Applications]\ntext/html=firefox.desktop\n\n[Added Associations]\na/b=c.desktop;\n",
       "[Default Applications]\ntext/html=firefox.desktop\nx-scheme-handler/tervalis3d=tervalis3d-launcher.desktop;\n"
       "\n[Added Associations]\na/b=c.desktop;\n"},
      {"[Default Applications]\nx-scheme-handler/tervalis3d = old.desktop;\ntext/html=f.desktop\n",
       "[Default Applications]\nx-scheme-handler/tervalis3d=tervalis3d-launcher.desktop;\ntext/html=f.desktop\n"},
      // the same key in another section is not ours to change
      {"[Added Associations]\nx-scheme-handler/tervalis3d=old.desktop;\n[Default Applications]\n",
       "[Added Associations]\nx-scheme-handler/tervalis3d=old.desktop;\n[Default Applications]\n"
       "x-scheme-handler/tervalis3d=tervalis3d-launcher.desktop;\n"},
      {"# mine\n[Default Applications]\r\ntext/html=f.desktop\r\n",
       "# mine\n[Default Applications]\r\ntext/html=f.desktop\r\n"
       "x-scheme-handler/tervalis3d=tervalis3d-launcher.desktop;\n"},
  };
  for (const Case& c : cases) {
    std::string got = withDefaultHandler(c.in, mime, desk);
    EXPECT_EQ(got, c.want) << c.in;
    EXPECT_EQ(withDefaultHandler(got, mime, desk), got) << "not idempotent: " << c.in;
  }
}

TEST(MimeApps, RegisterWritesBothFilesAndKeepsOthersDefaults) {
  testutil::TempDir tmp;
  XdgDirs dirs{tmp.path() + "/data/applications", tmp.path() + "/config"};
  ASSERT_EQ(mkdir(dirs.config.c_str(), 0755), 0);
  testutil::writeFile(dirs.config + "/mimeapps.list", "[Default Applications]\ntext/html=firefox.desktop\n");

  ASSERT_TRUE(registerUrlProtocolAt("/opt/t/TervalisOnline2D", dirs));
  EXPECT_EQ(testutil::readFile(dirs.applications + "/tervalis3d-launcher.desktop"),
            desktopEntryText("/opt/t/TervalisOnline2D"));
  EXPECT_EQ(testutil::readFile(dirs.config + "/mimeapps.list"),
            "[Default Applications]\ntext/html=firefox.desktop\n"
            "x-scheme-handler/tervalis3d=tervalis3d-launcher.desktop;\n");

  // A moved installation is registered anew.
  ASSERT_TRUE(registerUrlProtocolAt("/srv/t2/TervalisOnline2D", dirs));
  EXPECT_EQ(testutil::readFile(dirs.applications + "/tervalis3d-launcher.desktop"),
            desktopEntryText("/srv/t2/TervalisOnline2D"));
}

TEST(MimeApps, UnwritablePlaceIsReportedNotFatal) {
  testutil::TempDir tmp;
  testutil::writeFile(tmp.file("plain"), "x");
  XdgDirs dirs{tmp.path() + "/plain/applications", tmp.path() + "/config"};
  EXPECT_FALSE(registerUrlProtocolAt("/opt/t/TervalisOnline2D", dirs));
}

TEST(XdgDirs, EnvironmentAndFallbacks) {
  auto restore = [](const char* name, const char* old) {
    if (old) setenv(name, old, 1); else unsetenv(name);
  };
  const char* oldData = getenv("XDG_DATA_HOME");
  const char* oldConfig = getenv("XDG_CONFIG_HOME");
  std::string savedData = oldData ? oldData : "", savedConfig = oldConfig ? oldConfig : "";
  const char* oldHome = getenv("HOME");
  std::string savedHome = oldHome ? oldHome : "";

  setenv("HOME", "/home/u", 1);
  setenv("XDG_DATA_HOME", "/x/data", 1);
  setenv("XDG_CONFIG_HOME", "relative/cfg", 1);  // invalid: ignored
  XdgDirs d;
  ASSERT_TRUE(xdgDirsFromEnvironment(&d));
  EXPECT_EQ(d.applications, "/x/data/applications");
  EXPECT_EQ(d.config, "/home/u/.config");
  unsetenv("XDG_DATA_HOME");
  ASSERT_TRUE(xdgDirsFromEnvironment(&d));
  EXPECT_EQ(d.applications, "/home/u/.local/share/applications");
  unsetenv("HOME");
  EXPECT_FALSE(xdgDirsFromEnvironment(&d));

  restore("XDG_DATA_HOME", oldData ? savedData.c_str() : nullptr);
  restore("XDG_CONFIG_HOME", oldConfig ? savedConfig.c_str() : nullptr);
  restore("HOME", oldHome ? savedHome.c_str() : nullptr);
}

}  // namespace tvl
