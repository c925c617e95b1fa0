// Differential test: the system's GetPrivateProfileStringA and our reader
// must agree on every file of the corpus.
#include <windows.h>

#include <gtest/gtest.h>

#include "ini_corpus.h"
#include "launcher/profile_reader.h"
#include "launcher/settings.h"
#include "test_util.h"

TEST(SettingsDifferential, SystemReaderAndOursAgree) {
  testutil::TempDir dir;
  int compared = 0;
  for (const auto& f : inicorpus::files()) {
    std::string path = dir.file(std::string(f.name) + ".ini");
    testutil::writeFile(path, f.text);
    for (const auto& q : inicorpus::queries()) {
      std::string system = readSetting(q.section, q.key, q.defaultValue, path);
      std::string ours = profileGetString(&f.text, q.section, q.key, q.defaultValue, kProfileBufferSize);
      EXPECT_EQ(system, ours) << f.name << " [" << q.section << "] " << q.key;
      ++compared;
    }
  }
  std::string missing = dir.file("absent.ini");
  for (const auto& q : inicorpus::queries())
    EXPECT_EQ(readSetting(q.section, q.key, q.defaultValue, missing),
              profileGetString(nullptr, q.section, q.key, q.defaultValue, kProfileBufferSize))
        << "missing file " << q.key;
  EXPECT_GT(compared, 300);
}

TEST(Settings, LoadsRelativeToTheWorkingDirectory) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("TervalisOnline2D.ini"),
                      "[connection]\nUPDATE_SERVER=\ngame_server=\"1.2.3.4\"\nsocks_port=99\n");
  char old[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, old);
  ASSERT_TRUE(SetCurrentDirectoryA(dir.path().c_str()));
  loadConnectionSettings();
  SetCurrentDirectoryA(old);
  EXPECT_EQ(connectionSettings.update.host, "");
  EXPECT_EQ(connectionSettings.update.path, "/3d/");
  EXPECT_EQ(connectionSettings.icons.path, "/swf/");
  EXPECT_EQ(connectionSettings.game.gameServer, "1.2.3.4");
  EXPECT_EQ(connectionSettings.game.gamePort, "3801");
  EXPECT_EQ(connectionSettings.game.editorPort, "5191");
  EXPECT_EQ(connectionSettings.game.socksServer, "");
  EXPECT_EQ(connectionSettings.game.socksPort, "99");
}
