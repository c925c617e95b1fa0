// Settings files with the syntax corners that matter to the launcher, read
// by both the system's profile reader (under Wine) and our own.
#pragma once

#include <string>
#include <vector>

namespace inicorpus {

struct File {
  const char* name;
  std::string text;
};

struct Query {
  const char* section;
  const char* key;
  const char* defaultValue;
};

inline std::vector<File> files() {
  std::string longValue(40000, 'v');
  std::string edge(32766, 'e');
  return {
      {"plain_crlf",
       "[Connection]\r\nupdate_server=upd.example\r\nupdate_path=/3d/\r\nicons_server=icons.example\r\n"
       "icons_path=/swf/\r\ngame_server=10.0.0.1\r\ngame_port=3801\r\neditor_port=5191\r\n"
       "socks_server=proxy\r\nsocks_port=1080\r\n"},
      {"plain_lf", "[Connection]\nupdate_server=upd.example\ngame_port=4000\n"},
      {"cr_only", "[Connection]\rupdate_server=a\rgame_port=5\r"},
      {"no_final_newline", "[Connection]\nupdate_server=last"},
      {"letter_case", "[CONNECTION]\nUPDATE_SERVER=Upper\nGame_Port=MiXeD\n"},
      {"quotes",
       "[Connection]\nupdate_server=\"quoted host\"\nicons_server='single'\ngame_server=\"mismatch'\n"
       "update_path=\"\nicons_path=\"\"\ngame_port='a\"\neditor_port=\"in\"side\"\nsocks_server= \" padded \" \n"},
      {"white_space",
       "  [Connection]  \n\t update_server \t=\t  spaced value  \t\n game_port =\t\t\n icons_path= a b \r\n"},
      {"empty_values", "[Connection]\nupdate_server=\nupdate_path= \ngame_server=\t\n"},
      {"missing_keys", "[Connection]\n"},
      {"comments",
       "; comment\n;update_server=x\n[Connection]\n;update_server=commented\nupdate_server=real\n"
       "#game_port=7\ngame_port=8 ; trailing\n"},
      {"repeated_keys", "[Connection]\nupdate_server=first\nupdate_server=second\ngame_port=\ngame_port=9\n"},
      {"repeated_sections",
       "[Connection]\nupdate_server=a\n[Other]\nx=1\n[connection]\nupdate_server=b\ngame_port=77\n"},
      {"no_equals", "[Connection]\nupdate_server\ngame_port=5\nicons_server\t\n"},
      {"keys_before_section", "update_server=outside\n[Connection]\ngame_port=1\n"},
      {"no_section", "update_server=x\ngame_port=2\n"},
      {"unclosed_section", "[Connection\nupdate_server=x\n"},
      {"spaced_section_name", "[ Connection ]\nupdate_server=spaced\n"},
      {"section_trailing_text", "[Connection] tail\nupdate_server=t\n[Conn]ection]\ngame_port=3\n"},
      {"equals_in_value", "[Connection]\nupdate_server = a = b\n=nameless\n==\n"},
      {"tab_in_value", "[Connection]\nupdate_server=a\tb\n"},
      {"cp1251_value", "[Connection]\nupdate_server=\xF1\xE5\xF0\xE2\xE5\xF0\ngame_server=\xC0\xC1\n"},
      {"utf8_bom", "\xEF\xBB\xBF[Connection]\nupdate_server=bom\n"},
      {"odd_blanks", "[Connection]\nupdate_server=\x1A" "a\x1C" "b\x1F\x1A\ngame_port=\x0B" "7\x0C\n"
                     "update_path=\x1C" "1\x1C\nicons_server=\x1D" "2\x1D\nicons_path=\x1E" "3\x1E\n"
                     "game_server=\x1F" "4\x1F\neditor_port=\xA0" "5\xA0\nsocks_server=\x85" "6\x85\n"
                     "socks_port=\x00" "7\n"},
      {"long_value", "[Connection]\nupdate_server=" + longValue + "\ngame_port=after\n"},
      {"edge_32766", "[Connection]\nupdate_server=" + edge + "\nupdate_path=" + edge + "x\n"},
      {"long_quoted", "[Connection]\nupdate_server=\"" + edge + "\"\nupdate_path=\"" + edge.substr(1) + "\"\n"},
      {"empty_file", ""},
      {"ctrl_z", "[Connection]\nupdate_server=z\n\x1A"},
  };
}

inline std::vector<Query> queries() {
  return {
      {"Connection", "update_server", "default.update"},
      {"Connection", "update_path", "/3d/"},
      {"Connection", "icons_server", "default.icons"},
      {"Connection", "icons_path", "/swf/"},
      {"Connection", "game_server", "198.51.100.10"},
      {"Connection", "game_port", "3801"},
      {"Connection", "editor_port", "5191"},
      {"Connection", "socks_server", ""},
      {"Connection", "socks_port", ""},
      {"CONNECTION", "Update_Server", "d"},
      {" Connection ", " game_port ", "d"},
      {"Other", "x", "d"},
      {"Connection", "", "d"},
      {"Connection", "missing", "\"quoted default\""},
      {"Connection", "missing", "trailing  "},
  };
}

}  // namespace inicorpus
