#include "launcher/settings.h"

#include <gtest/gtest.h>

#include "platform/process.h"
#include "test_util.h"

namespace tvl {


namespace {

void loadIn(const testutil::TempDir& dir) {
  std::string old = platform::currentDirectory();
  ASSERT_TRUE(platform::setCurrentDirectory(dir.path()));
  loadConnectionSettings();
  platform::setCurrentDirectory(old);
}

}  // namespace

TEST(Settings, LoadsFromTheWorkingDirectory) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("TervalisOnline2D.ini"),
                      "[connection]\r\nUPDATE_SERVER=\r\ngame_server=\"1.2.3.4\"\r\nsocks_port=99\r\n");
  loadIn(dir);
  EXPECT_EQ(connectionSettings.update.host, "");
  EXPECT_EQ(connectionSettings.update.path, "/3d/");
  EXPECT_EQ(connectionSettings.icons.path, "/swf/");
  EXPECT_EQ(connectionSettings.game.gameServer, "1.2.3.4");
  EXPECT_EQ(connectionSettings.game.gamePort, "3801");
  EXPECT_EQ(connectionSettings.game.editorPort, "5191");
  EXPECT_EQ(connectionSettings.game.socksServer, "");
  EXPECT_EQ(connectionSettings.game.socksPort, "99");
}

TEST(Settings, MissingFileGivesEveryDefault) {
  testutil::TempDir dir;
  loadIn(dir);
  EXPECT_EQ(connectionSettings.update.host, TVL_DEFAULT_UPDATE_SERVER);
  EXPECT_EQ(connectionSettings.icons.host, TVL_DEFAULT_ICONS_SERVER);
  EXPECT_EQ(connectionSettings.game.gameServer, TVL_DEFAULT_GAME_SERVER);
  EXPECT_EQ(connectionSettings.update.path, "/3d/");
  EXPECT_EQ(connectionSettings.icons.path, "/swf/");
  EXPECT_EQ(connectionSettings.game.socksServer, "");
}

TEST(Settings, UpdateOptionsTakeWholeNumbersInRange) {
  struct Case {
    const char* text;
    int want;
  } cases[] = {{"4", 4}, {"1", 1}, {"16", 16}, {"0", 7}, {"17", 7}, {"", 7}, {" 4", 7}, {"4x", 7}, {"-2", 7},
               {"99999999999", 7}};
  for (const Case& c : cases) EXPECT_EQ(settingNumber(c.text, 1, 16, 7), c.want) << c.text;

  // A folder each: the profile reader may cache a file it has read.
  auto load = [](const std::string& ini) {
    testutil::TempDir dir;
    testutil::writeFile(dir.file("TervalisOnline2D.ini"), "[Connection]\r\n" + ini);
    std::string old = platform::currentDirectory();
    EXPECT_TRUE(platform::setCurrentDirectory(dir.path()));
    UpdateOptions o = loadUpdateOptions();
    platform::setCurrentDirectory(old);
    return o;
  };
  UpdateOptions o = load("download_connections=4\r\n");
  EXPECT_EQ(o.connections, 4);
  EXPECT_EQ(o.retries, 2);
  EXPECT_FALSE(o.checkIndex);
  EXPECT_EQ(o.fullCheckDays, 7);
  EXPECT_EQ(o.limitKbps, 0);
  EXPECT_EQ(o.mirrors, "");
  o = load("download_limit_kbps=2048\r\nupdate_mirrors=m1:8080/a, https://m2\r\n");
  EXPECT_EQ(o.mirrors, "m1:8080/a, https://m2");
  EXPECT_EQ(o.limitKbps, 2048);
  o = load("download_limit_kbps=2 MB\r\n");
  EXPECT_EQ(o.limitKbps, 0);
  o = load("check_index=1\r\nfull_check_days=365\r\n");
  EXPECT_TRUE(o.checkIndex);
  EXPECT_EQ(o.fullCheckDays, 365);
  o = load("check_index=yes\r\nfull_check_days=0\r\n");
  EXPECT_FALSE(o.checkIndex);
  EXPECT_EQ(o.fullCheckDays, 7);
}

}  // namespace tvl
