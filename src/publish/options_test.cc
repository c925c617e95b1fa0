#include "publish/options.h"

#include <gtest/gtest.h>

namespace publish {
namespace {

TEST(CommandLine, ParsesEveryOption) {
  CommandLine cl;
  std::string error;
  ASSERT_TRUE(parseCommandLine({"--icons", "ic", "--icons-output=out/ic", "--launcher", "new.exe",
                                "--linux-launcher=build/TervalisOnline2D", "--include",
                                "data/**", "--exclude=*.bak", "--release", "2.0 beta", "--date", "2024-01-02",
                                "--level=9", "-j", "3", "-n", "--rehash", "--force", "-q", "-v", "--sign-key", "k",
                                "--expires=7", "rel", "out"},
                               2, &cl, &error))
      << error;
  const PublishOptions& p = cl.publish;
  EXPECT_EQ(p.releaseDir, "rel");
  EXPECT_EQ(p.outputDir, "out");
  EXPECT_EQ(p.iconsDir, "ic");
  EXPECT_EQ(p.iconsOutputDir, "out/ic");
  EXPECT_EQ(p.launcherPath, "new.exe");
  EXPECT_EQ(p.linuxLauncherPath, "build/TervalisOnline2D");
  EXPECT_TRUE(p.filter.accepts("data/a.pak"));
  EXPECT_FALSE(p.filter.accepts("data/a.bak"));
  EXPECT_FALSE(p.filter.accepts("other"));
  EXPECT_EQ(p.releaseLabel, "2.0 beta");
  EXPECT_TRUE(p.fixedStamp);
  EXPECT_EQ(p.stamp, 1704153600);
  EXPECT_EQ(p.level, 9);
  EXPECT_EQ(p.jobs, 3u);
  EXPECT_TRUE(p.dryRun && p.rehash && p.force && cl.quiet && cl.verbose);
  EXPECT_EQ(p.signKeyPath, "k");
  EXPECT_EQ(p.expiresDays, 7);
  EXPECT_TRUE(cl.keygenPath.empty());

  ASSERT_TRUE(parseCommandLine({"-j4", "a", "b"}, 2, &cl, &error)) << error;
  EXPECT_EQ(cl.publish.jobs, 4u);
  ASSERT_TRUE(parseCommandLine({"--", "-rel", "out"}, 0, &cl, &error));
  EXPECT_EQ(cl.publish.releaseDir, "-rel");
  EXPECT_EQ(cl.publish.jobs, 1u);  // unknown core count
  EXPECT_EQ(cl.publish.level, 6);
  EXPECT_FALSE(cl.publish.fixedStamp);
  EXPECT_TRUE(cl.publish.signKeyPath.empty());
  EXPECT_EQ(cl.publish.expiresDays, 30);

  ASSERT_TRUE(parseCommandLine({"keygen", "secret.key"}, 2, &cl, &error)) << error;
  EXPECT_EQ(cl.keygenPath, "secret.key");
  ASSERT_TRUE(parseCommandLine({"./keygen", "out"}, 2, &cl, &error)) << error;
  EXPECT_TRUE(cl.keygenPath.empty());
}

TEST(CommandLine, RefusesWhatItCannotUse) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"rel"},
      {"a", "b", "c"},
      {"--bogus", "a", "b"},
      {"a", "b", "--level"},
      {"--level", "10", "a", "b"},
      {"--level", "x", "a", "b"},
      {"-j", "0", "a", "b"},
      {"--date", "someday", "a", "b"},
      {"--release", "", "a", "b"},
      {"--release", "a\tb", "a", "b"},
      {"--icons", "i", "a", "b"},
      {"--icons-output", "i", "a", "b"},
      {"--dry-run=yes", "a", "b"},
      {"--expires", "7", "a", "b"},  // nothing to sign
      {"--sign-key", "k", "--expires", "0", "a", "b"},
      {"--sign-key", "k", "--expires", "3651", "a", "b"},
      {"--sign-key=", "a", "b"},
      {"keygen"},
      {"keygen", "a", "b"},
      {"keygen", "--force"},
  };
  for (const auto& args : bad) {
    CommandLine cl;
    std::string error;
    EXPECT_FALSE(parseCommandLine(args, 2, &cl, &error)) << ::testing::PrintToString(args);
    EXPECT_FALSE(error.empty());
  }
  CommandLine cl;
  std::string error;
  ASSERT_TRUE(parseCommandLine({"a", "--help"}, 2, &cl, &error));
  EXPECT_TRUE(cl.help);
}

}  // namespace
}  // namespace publish
