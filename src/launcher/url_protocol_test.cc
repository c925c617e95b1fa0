#include "launcher/url_protocol.h"

#include <gtest/gtest.h>

namespace tvl {


TEST(QuotedProgramPath, Table) {
  struct Case {
    const char* line;
    bool registers;
    const char* path;
  } cases[] = {
      {"\"C:\\Games\\T\\TervalisOnline2D.exe\" /editor", true, "C:\\Games\\T\\TervalisOnline2D.exe"},
      {"\"C:\\Games\\T\\TervalisOnline2D.exe\"", true, "C:\\Games\\T\\TervalisOnline2D.exe"},
      {"C:\\Games\\T\\TervalisOnline2D.exe /editor", false, ""},
      {"C:\\Games\\T\\TervalisOnline2D.exe /externlogin=tervalis3d://x", false, ""},  // a start by the scheme
      {"\"C:\\Games\\T\\TervalisOnline2D.exe /editor", false, ""},   // no closing quote
      {"\"\" /x", true, ""},
      {"\"", false, ""},
      {"", false, ""},
      {" \"C:\\T.exe\"", false, ""},
      {"\"..\\T\\TervalisOnline2D.exe\" a", true, "..\\T\\TervalisOnline2D.exe"},  // relative as given
      {"\"C:\\\xC8\xE3\xF0\xFB\\T.exe\" \"x\"", true, "C:\\\xC8\xE3\xF0\xFB\\T.exe"},
  };
  for (const Case& c : cases) {
    std::string path = "unchanged";
    EXPECT_EQ(quotedProgramPath(c.line, &path), c.registers) << c.line;
    if (c.registers) {
      EXPECT_EQ(path, c.path) << c.line;
    }
  }
}

TEST(UrlRegistryEntries, FourKeysInOrder) {
  std::vector<UrlRegistryEntry> e = urlRegistryEntries("C:\\Games\\T\\TervalisOnline2D.exe");
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].key, "Tervalis3D");
  EXPECT_TRUE(e[0].setsValue);
  EXPECT_EQ(e[0].valueName, "URL Protocol");
  EXPECT_EQ(e[0].data, "");
  EXPECT_EQ(e[1].key, "Tervalis3D\\Shell");
  EXPECT_TRUE(e[1].setsValue);
  EXPECT_EQ(e[1].valueName, "");
  EXPECT_EQ(e[1].data, "TervalisOnline2D");
  EXPECT_EQ(e[2].key, "Tervalis3D\\Shell\\TervalisOnline2D");
  EXPECT_FALSE(e[2].setsValue);
  EXPECT_EQ(e[3].key, "Tervalis3D\\Shell\\TervalisOnline2D\\command");
  EXPECT_EQ(e[3].valueName, "");
  EXPECT_EQ(e[3].data, "C:\\Games\\T\\TervalisOnline2D.exe /externlogin=%1");
  EXPECT_EQ(urlRegistryEntries("")[3].data, " /externlogin=%1");
}

}  // namespace tvl
