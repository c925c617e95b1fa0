#include "publish/names.h"

#include <gtest/gtest.h>

namespace publish {
namespace {

TEST(NameProblem, AcceptsWhatTheLauncherInstallsUnchanged) {
  for (const char* ok : {"TervalisOnline2D.exe", "TervalisOnline2D.bin", "data/a.pak", "data/sub dir/x y.png",
                         ".hidden", "a..b", "..a", "console.txt", "COMA", "\xcf\xf0\xe8.txt"})
    EXPECT_EQ(nameProblem(ok, Tree::Game), "") << ok;
}

TEST(NameProblem, RefusesWhatTheLauncherWouldFetchOrPlaceElsewhere) {
  struct Case {
    const char* name;
    Tree tree;
    const char* reason;  // a substring of the message
  } cases[] = {
      {"/abs", Tree::Game, "absolute"},
      {"\\abs", Tree::Game, "absolute"},
      {"C:x", Tree::Game, "drive"},
      {"a/../b", Tree::Game, "'..'"},
      {"..", Tree::Game, "'..'"},
      {"a/./b", Tree::Game, "'.'"},
      {"a//b", Tree::Game, "empty path component"},
      {"a\\b", Tree::Game, "backslash"},
      {"a\tb", Tree::Game, "TAB"},
      {"a\rb", Tree::Game, "TAB, CR or LF"},
      {"a\nb", Tree::Icons, "TAB, CR or LF"},
      {"a\x01", Tree::Game, "control"},
      {"ab:c", Tree::Game, "':'"},
      {"a?b", Tree::Game, "Windows file names"},
      {"a*b", Tree::Game, "Windows file names"},
      {"100%.txt", Tree::Game, "unescaped"},
      {"a#b", Tree::Game, "unescaped"},
      {"dir./x", Tree::Game, "drops"},
      {"x ", Tree::Game, "drops"},
      {"data/NUL.txt", Tree::Game, "device"},
      {"lpt1", Tree::Game, "device"},
      {"data/con.d/x", Tree::Game, "device"},
      {"Com0.txt", Tree::Game, "device"},
      {"files.txt", Tree::Game, "file list"},
      {"Files.TXT", Tree::Game, "file list"},
      {"clan_icons_list.txt", Tree::Game, "deletes"},
      {"tervalisonline2d.exe.OLD", Tree::Game, "deletes"},
      {"TervalisOnline2D.exe.new", Tree::Game, "deletes"},
      {"TervalisOnline2D.old", Tree::Game, "deletes"},  // the Linux launcher's
      {"data/update/update.tmp", Tree::Game, "staging"},
      {"Data/Update/Update.lock", Tree::Game, "while it updates"},
      {"Data/Update/Patched.tmp", Tree::Game, "staging"},
      {"Release.sig", Tree::Game, "release manifest"},
      {"data/update/release.txt", Tree::Game, "newest release"},
      {"data/update/release.txt.tmp", Tree::Game, "newest release"},
      {"Data/Update/Verified.txt", Tree::Game, "verified files"},
      {"data/update/verified.txt.tmp", Tree::Game, "verified files"},
      {".publish-state", Tree::Game, "publisher"},
      {".publish-tmp/1.tmp", Tree::Icons, "publisher"},
      {"clan_icons_list.txt", Tree::Icons, "icon list"},
      {"", Tree::Game, "empty"},
  };
  for (const Case& c : cases) {
    std::string problem = nameProblem(c.name, c.tree);
    EXPECT_NE(problem.find(c.reason), std::string::npos) << "'" << c.name << "' gave '" << problem << "'";
  }
  // Reserved in one tree only.
  EXPECT_EQ(nameProblem("files.txt", Tree::Icons), "");
  EXPECT_EQ(nameProblem("release.sig", Tree::Icons), "");
  EXPECT_EQ(nameProblem("data/files.txt", Tree::Game), "");
}

TEST(NameProblem, PathLengthCountsTheLaunchersPrefix) {
  // ".\" + name must fit 259 characters; icons also carry "data/textures/".
  std::string longest(kMaxProgramPath - 2, 'a');
  EXPECT_EQ(nameProblem(longest, Tree::Game), "");
  EXPECT_NE(nameProblem(longest + "a", Tree::Game).find("260 characters"), std::string::npos);
  std::string icon(kMaxProgramPath - 2 - 14, 'b');
  EXPECT_EQ(nameProblem(icon, Tree::Icons), "");
  EXPECT_NE(nameProblem(icon + "b", Tree::Icons).find("too long"), std::string::npos);
  EXPECT_NE(nameProblem("d/" + longest, Tree::Game).find("too long"), std::string::npos);
}

TEST(CheckNames, ReportsCollisionsOnCaseInsensitiveTargets) {
  auto problems = checkNames({"Data/a.pak", "data/A.pak", "ok.txt", "x", "X/y", "data/textures/i.png"},
                             {"i.png", "j.png", "J.png"});
  std::map<std::string, std::string> byName;
  for (auto& p : problems) byName[p.name] = p.reason;
  EXPECT_EQ(byName.count("ok.txt"), 0u);
  EXPECT_NE(byName["Data/a.pak"].find("letter case"), std::string::npos);
  EXPECT_NE(byName["data/A.pak"].find("letter case"), std::string::npos);
  EXPECT_NE(byName["x"].find("needs a directory"), std::string::npos);
  EXPECT_NE(byName["data/textures/i.png"].find("clan icon both"), std::string::npos);
  EXPECT_NE(byName["clan icon i.png"].find("clan icon both"), std::string::npos);
  EXPECT_NE(byName["clan icon J.png"].find("letter case"), std::string::npos);
  EXPECT_EQ(problems.size(), 7u);
  // Problems of single names come through with the icon prefix shown.
  problems = checkNames({}, {"a:b"});
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].name, "clan icon a:b");
}

TEST(GlobMatch, Table) {
  struct Case {
    const char* pattern;
    const char* text;
    bool match;
  } cases[] = {
      {"*.bak", "a.bak", true},       {"*.bak", "dir/a.bak", false}, {"*", "", true},
      {"a?c", "abc", true},           {"a?c", "a/c", false},         {"**/*.log", "x.log", true},
      {"**/*.log", "a/b/x.log", true}, {"tools/**", "tools/a/b", true}, {"tools/**", "toolsx/a", false},
      {"a/**/b", "a/b", true},        {"a/**/b", "a/x/y/b", true},   {"a/**/b", "a/xb", false},
      {"[a-c]x", "bx", true},         {"[!a-c]x", "bx", false},      {"[!a-c]x", "dx", true},
      {"[]]", "]", true},             {"[ab", "[ab", true},          {"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
      {"data/*.pak", "data/x.pak", true}, {"data/*.pak", "data/s/x.pak", false}, {"a**", "a/b/c", true},
  };
  for (const Case& c : cases) EXPECT_EQ(globMatch(c.pattern, c.text), c.match) << c.pattern << " ~ " << c.text;
}

TEST(Filter, IncludeExcludeSemantics) {
  Filter all;
  EXPECT_TRUE(all.accepts("anything/at/all"));

  Filter f;
  f.exclude("*.bak");
  f.exclude("logs");
  f.exclude("/tools/");
  EXPECT_FALSE(f.accepts("a/b/c.bak"));
  EXPECT_FALSE(f.accepts("logs/today.txt"));
  EXPECT_FALSE(f.accepts("game/logs/today.txt"));
  EXPECT_FALSE(f.accepts("tools/x/y.exe"));
  EXPECT_TRUE(f.accepts("data/tools/y.exe"));  // anchored at the top
  EXPECT_TRUE(f.accepts("data/a.pak"));

  Filter inc;
  inc.include("data/**");
  inc.include("TervalisOnline2D.*");
  inc.exclude("*.tmp");
  EXPECT_TRUE(inc.accepts("data/a/b.pak"));
  EXPECT_TRUE(inc.accepts("TervalisOnline2D.bin"));
  EXPECT_FALSE(inc.accepts("readme.txt"));
  EXPECT_FALSE(inc.accepts("data/x.tmp"));  // exclude wins
}

}  // namespace
}  // namespace publish
