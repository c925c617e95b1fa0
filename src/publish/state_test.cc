#include "publish/state.h"

#include <gtest/gtest.h>

namespace publish {
namespace {

PublishState sample() {
  PublishState s;
  s.packing = "zip-1 level 6";
  s.listMd5 = "0CC175B9C0F1B6A831C399E269772661";
  s.listStamp = 1700000000;
  s.listOutputSize = 321;
  s.entries["a b/c.pak"] = {10, -5, "D41D8CD98F00B204E9800998ECF8427E", 1700000000, 140, ""};
  s.entries["TervalisOnline2D.exe"] = {4000000000ULL, 1700000000123456789, "900150983CD24FB0D6963F7D28E17F72", -3, 7, ""};
  return s;
}

TEST(State, RoundTrips) {
  PublishState back;
  ASSERT_TRUE(parseState(serialiseState(sample()), &back));
  EXPECT_EQ(back.packing, "zip-1 level 6");
  EXPECT_EQ(back.listMd5, "0CC175B9C0F1B6A831C399E269772661");
  EXPECT_EQ(back.listStamp, 1700000000);
  EXPECT_EQ(back.listOutputSize, 321u);
  ASSERT_EQ(back.entries.size(), 2u);
  const StateEntry& e = back.entries["TervalisOnline2D.exe"];
  EXPECT_EQ(e.size, 4000000000ULL);
  EXPECT_EQ(e.mtimeNs, 1700000000123456789);
  EXPECT_EQ(e.stamp, -3);
  EXPECT_EQ(e.outputSize, 7u);
  EXPECT_EQ(back.entries["a b/c.pak"].mtimeNs, -5);

  PublishState empty;
  ASSERT_TRUE(parseState(serialiseState(PublishState()), &empty));
  EXPECT_TRUE(empty.listMd5.empty());
}

// Unsigned runs keep writing the first form; a known SHA-256 anywhere
// brings the column in.
TEST(State, KeepsOutputDigestsInTheSecondForm) {
  const std::string sha(64, 'e');
  EXPECT_EQ(serialiseState(sample()).find("tervalis-publish-state 1\n"), 0u);
  for (bool onList : {false, true}) {
    PublishState s = sample();
    (onList ? s.listSha256 : s.entries["a b/c.pak"].outputSha256) = sha;
    std::string text = serialiseState(s);
    EXPECT_EQ(text.find("tervalis-publish-state 2\n"), 0u);
    PublishState back;
    ASSERT_TRUE(parseState(text, &back)) << text;
    EXPECT_EQ(back.listSha256, onList ? sha : "");
    EXPECT_EQ(back.entries["a b/c.pak"].outputSha256, onList ? "" : sha);
    EXPECT_EQ(back.entries["TervalisOnline2D.exe"].outputSha256, "");
    EXPECT_EQ(serialiseState(back), text);

    std::string upper = text;
    upper.replace(upper.find(sha), 1, "E");
    EXPECT_FALSE(parseState(upper, &back));
    std::string firstForm = text;
    firstForm.replace(0, 24, "tervalis-publish-state 1");
    EXPECT_FALSE(parseState(firstForm, &back));
  }
}

TEST(State, DamageOfAnyKindGivesAnEmptyState) {
  std::string good = serialiseState(sample());
  std::vector<std::string> damaged = {
      "",
      good.substr(0, good.size() - 4),    // cut off before "end"
      good.substr(0, good.size() - 1),    // last LF missing
      good + "x",                         // trailing bytes
      "tervalis-publish-state 3" + good.substr(good.find('\n')),
      "tervalis-publish-state 2" + good.substr(good.find('\n')),  // the second form lacks its column
  };
  std::string badDigest = good;
  badDigest.replace(badDigest.find("D41D8CD9"), 1, "d");  // lower case
  damaged.push_back(badDigest);
  std::string badNumber = good;
  badNumber.replace(badNumber.find("\t10\t"), 4, "\t1x\t");
  damaged.push_back(badNumber);
  std::string overflow = good;
  overflow.replace(overflow.find("\t10\t"), 4, "\t99999999999999999999\t");
  damaged.push_back(overflow);
  for (const std::string& text : damaged) {
    PublishState s = sample();
    EXPECT_FALSE(parseState(text, &s)) << text;
    EXPECT_TRUE(s.entries.empty());
    EXPECT_TRUE(s.packing.empty());
  }
}

}  // namespace
}  // namespace publish
