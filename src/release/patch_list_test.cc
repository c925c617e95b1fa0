#include "release/patch_list.h"

#include <gtest/gtest.h>

namespace release {
namespace {

const std::string A(32, 'A');
const std::string B(32, 'B');
const std::string C(32, 'C');

std::string line(const std::string& name, const std::string& base, const std::string& target, const std::string& size,
                 const std::string& path) {
  return name + "\t" + base + "\t" + target + "\t" + size + "\t" + path + "\r\n";
}

TEST(PatchList, ReaderTable) {
  const std::string good = line("data/pack.dat", A, B, "1234", "patches/x.zst");
  struct Case {
    std::string text;
    const char* error;  // nullptr: accepted; else a part of the message
    uint64_t max = kMaxPatchSize;
  } cases[] = {
      {"", nullptr},
      {good, nullptr},
      {good + line("data/pack.dat", C, B, "2147483647", "p/y.zst"), nullptr},
      {line("a b/c d.pak", A, B, "1", "p/a_b-c~d.zst"), nullptr},
      {good.substr(0, good.size() - 2), "does not end with CR LF"},
      {good.substr(0, good.size() - 2) + "\n", "does not end with CR LF"},
      {good + "\r\n", "line 2: not five"},
      {"data/pack.dat\t" + A + "\t" + B + "\t1234\r\n", "not five"},
      {good.substr(0, good.size() - 2) + "\textra\r\n", "not five"},
      {"x\r" + good, "CR inside"},
      {line("", A, B, "1", "p"), "empty name"},
      {line("../evil.dll", A, B, "1", "p"), "outside the program folder"},
      {line("/abs", A, B, "1", "p"), "outside the program folder"},
      {line("c:x", A, B, "1", "p"), "outside the program folder"},
      {line("a\x01" "b", A, B, "1", "p"), "control character"},
      {line(std::string(1025, 'n'), A, B, "1", "p"), "longer than 1024"},
      {line("n", std::string(32, 'a'), B, "1", "p"), "base is not"},
      {line("n", A, B.substr(1), "1", "p"), "target is not"},
      {line("n", A, A, "1", "p"), "the same"},
      {line("n", A, B, "0", "p"), "size"},
      {line("n", A, B, "01", "p"), "size"},
      {line("n", A, B, "-1", "p"), "size"},
      {line("n", A, B, "2147483648", "p"), "size"},
      // The piece list takes any size below 2^63.
      {line("n", A, B, "6442450944", "p"), nullptr, kMaxPiecePatchSize},
      {line("n", A, B, "9223372036854775807", "p"), nullptr, kMaxPiecePatchSize},
      {line("n", A, B, "9223372036854775808", "p"), "size", kMaxPiecePatchSize},
      {line("n", A, B, "18446744073709551617", "p"), "size", kMaxPiecePatchSize},
      {line("n", A, B, "", "p"), "size"},
      {line("n", A, B, "1", ""), "empty path"},
      {line("n", A, B, "1", "../p"), "component"},
      {line("n", A, B, "1", "p//q"), "component"},
      {line("n", A, B, "1", "p/./q"), "component"},
      {line("n", A, B, "1", "/p"), "component"},
      {line("n", A, B, "1", "p/"), "component"},
      {line("n", A, B, "1", "p q"), "blank"},
      {line("n", A, B, "1", "p\xc3\xa9"), "non-ASCII"},
      {line("n", A, B, "1", "p%2e"), "URL"},
      {line("n", A, B, "1", "p?x=1"), "URL"},
      {line("n", A, B, "1", "p#x"), "URL"},
      {line("n", A, B, "1", "p\\q"), "backslash"},
      {line("n", A, B, "1", "c:p"), "outside the server folder"},
      {line("n", A, B, "1", "...."), "outside the server folder"},
      {line("n", A, B, "1", std::string(1025, 'p')), "longer than 1024"},
      {good + line("data/pack.dat", C, A, "1", "p"), "line 2: another target"},
      {good + line("data/pack.dat", A, B, "1", "p"), "line 2: a second patch from the same base"},
  };
  for (const Case& c : cases) {
    std::vector<PatchEntry> entries = {PatchEntry()};
    std::string error;
    bool ok = parsePatchList(c.text.data(), c.text.size(), &entries, &error, c.max);
    if (!c.error) {
      EXPECT_TRUE(ok) << c.text << ": " << error;
      // The writer gives back exactly what the reader accepted.
      EXPECT_EQ(formatPatchList(entries), c.text);
    } else {
      EXPECT_FALSE(ok) << c.text;
      EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
      EXPECT_TRUE(entries.empty());
    }
  }
}

TEST(PatchList, FieldsAndLookup) {
  std::vector<PatchEntry> written = {{"data/a.pak", A, C, 77, "patches/1.zst"}, {"data/a.pak", B, C, 88, "patches/2.zst"}};
  std::string text = formatPatchList(written);
  std::vector<PatchEntry> read;
  std::string error;
  ASSERT_TRUE(parsePatchList(text.data(), text.size(), &read, &error)) << error;
  ASSERT_EQ(read, written);
  EXPECT_EQ(findPatch(read, "data/a.pak", B, C), &read[1]);
  EXPECT_EQ(findPatch(read, "data/a.pak", C, A), nullptr);  // no patch back
  EXPECT_EQ(findPatch(read, "data/A.pak", A, C), nullptr);  // names are compared as written
  EXPECT_EQ(findPatch(read, "data/a.pak", A, B), nullptr);  // patches an older target
}

TEST(PatchList, SizeBound) {
  std::string text(kMaxPatchListBytes + 1, 'x');
  std::vector<PatchEntry> entries;
  std::string error;
  EXPECT_FALSE(parsePatchList(text.data(), text.size(), &entries, &error));
  EXPECT_NE(error.find("larger than"), std::string::npos);
}

}  // namespace
}  // namespace release
