// Differential test: the system's GetPrivateProfileStringA and our reader
// must agree on every file of the corpus.
#include <windows.h>

#include <gtest/gtest.h>

#include "ini_corpus.h"
#include "launcher/profile_reader.h"
#include "launcher/settings.h"
#include "test_util.h"

namespace tvl {


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

}  // namespace tvl
