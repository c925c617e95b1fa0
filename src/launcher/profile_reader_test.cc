#include "launcher/profile_reader.h"

#include <gtest/gtest.h>

#include "ini_corpus.h"

namespace tvl {


namespace {

std::string read(const std::string& fileName, const char* section, const char* key, const char* def) {
  for (const auto& f : inicorpus::files())
    if (fileName == f.name) return profileGetString(&f.text, section, key, def, kProfileBufferSize);
  ADD_FAILURE() << "no corpus file " << fileName;
  return std::string();
}

}  // namespace

// What the system reader gives for the corpus; the differential test under
// Wine checks our reader against the system on the whole corpus.
TEST(ProfileReader, Corpus) {
  struct Case {
    const char* file;
    const char* key;
    const char* want;
  } cases[] = {
      {"plain_crlf", "update_server", "upd.example"},
      {"plain_crlf", "socks_port", "1080"},
      {"plain_lf", "game_port", "4000"},
      {"plain_lf", "editor_port", "def"},
      {"cr_only", "update_server", "a"},  // CR alone ends a line too
      {"cr_only", "game_port", "5"},
      {"no_final_newline", "update_server", "last"},
      {"letter_case", "update_server", "Upper"},
      {"letter_case", "game_port", "MiXeD"},
      {"quotes", "update_server", "quoted host"},
      {"quotes", "icons_server", "single"},
      {"quotes", "game_server", "\"mismatch'"},
      {"quotes", "update_path", "\""},
      {"quotes", "icons_path", ""},
      {"quotes", "game_port", "'a\""},
      {"quotes", "editor_port", "in\"side"},
      {"quotes", "socks_server", " padded "},
      {"white_space", "update_server", "spaced value"},
      {"white_space", "game_port", ""},
      {"white_space", "icons_path", "a b"},
      {"empty_values", "update_server", ""},
      {"empty_values", "update_path", ""},
      {"missing_keys", "update_server", "def"},
      {"comments", "update_server", "real"},
      {"comments", "game_port", "8 ; trailing"},
      {"repeated_keys", "update_server", "first"},
      {"repeated_keys", "game_port", ""},
      {"repeated_sections", "update_server", "a"},
      {"repeated_sections", "game_port", "def"},  // only the first section counts
      {"no_equals", "update_server", "def"},
      {"no_equals", "game_port", "5"},
      {"keys_before_section", "update_server", "def"},
      {"no_section", "game_port", "def"},
      {"unclosed_section", "update_server", "def"},
      {"spaced_section_name", "update_server", "spaced"},
      {"section_trailing_text", "update_server", "t"},
      {"equals_in_value", "update_server", "a = b"},
      {"tab_in_value", "update_server", "a\tb"},
      {"cp1251_value", "update_server", "\xF1\xE5\xF0\xE2\xE5\xF0"},
      {"utf8_bom", "update_server", "bom"},
      {"odd_blanks", "update_server", "a\x1C" "b\x1F"},
      {"odd_blanks", "editor_port", "\xA0" "5\xA0"},
      {"odd_blanks", "game_port", "7"},
      {"long_value", "game_port", "after"},
      {"empty_file", "update_server", "def"},
      {"ctrl_z", "update_server", "z"},
  };
  for (const Case& c : cases) EXPECT_EQ(read(c.file, "Connection", c.key, "def"), c.want) << c.file << " " << c.key;
}

TEST(ProfileReader, LongValuesAreCutToTheBuffer) {
  std::string v = read("long_value", "Connection", "update_server", "d");
  EXPECT_EQ(v, std::string(kProfileBufferSize - 1, 'v'));
  EXPECT_EQ(read("edge_32766", "Connection", "update_server", "d").size(), 32766u);
  EXPECT_EQ(read("edge_32766", "Connection", "update_path", "d"), std::string(32766, 'e'));
}

TEST(ProfileReader, MissingFileGivesDefaults) {
  EXPECT_EQ(profileGetString(nullptr, "Connection", "update_path", "/3d/", kProfileBufferSize), "/3d/");
  EXPECT_EQ(profileGetString(nullptr, "Connection", "k", "\"q\"", kProfileBufferSize), "q");
  EXPECT_EQ(profileGetString(nullptr, "Connection", "k", "d  ", kProfileBufferSize), "d");
  EXPECT_EQ(profileGetString(nullptr, "Connection", "", "d", kProfileBufferSize), "d");
}

}  // namespace tvl
