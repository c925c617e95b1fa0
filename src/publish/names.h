// Which release names the launcher can fetch and install, and the include /
// exclude patterns that choose what is published.
//
// A list name is used three ways by the launcher: appended unescaped to the
// server path for the request, appended to ".\" (game files) or
// "data/textures/" (clan icons) as the target of a narrow Windows file call,
// and, for game files, as the member name of the archive, which the launcher
// sanitises and compares with "TervalisOnline2D.exe". A name is published
// only when all three give the same file.
#pragma once

#include <string>
#include <vector>

namespace publish {

enum class Tree { Game, Icons };

// Longest path, ".\" + local directory + name, that the launcher's 260-byte
// path buffers hold together with their terminator.
constexpr size_t kMaxProgramPath = 259;

// Why the launcher could not fetch or install `name` (a relative name with
// "/" separators), or "" when it can.
std::string nameProblem(const std::string& name, Tree tree);

struct NameProblem {
  std::string name;    // as shown to the user ("clan icon <name>" for icons)
  std::string reason;
};

// Checks every name of both trees, one by one and against each other:
// names that differ only in letter case, a file where another name needs a
// directory, and a game file that is also a clan icon's target. Returns the
// problems in name order; empty when everything can be published.
std::vector<NameProblem> checkNames(const std::vector<std::string>& gameNames,
                                    const std::vector<std::string>& iconNames);

// Shell-style pattern match on "/"-separated names: "*" and "?" stay within
// one path component, "**" spans components, "[a-z]" / "[!a-z]" are classes.
bool globMatch(const std::string& pattern, const std::string& text);

// Include / exclude patterns. A pattern without "/" is tried on every
// component of a name (so "*.bak" or "logs" match at any depth); one with "/"
// on the whole name, from the release folder's top ("tools/**").
class Filter {
 public:
  void include(const std::string& pattern) { includes_.push_back(normalise(pattern)); }
  void exclude(const std::string& pattern) { excludes_.push_back(normalise(pattern)); }
  // Without includes everything is included; an exclude always wins.
  bool accepts(const std::string& name) const;

 private:
  static std::string normalise(const std::string& pattern);
  static bool matches(const std::string& pattern, const std::string& name);
  std::vector<std::string> includes_;
  std::vector<std::string> excludes_;
};

std::string asciiLower(std::string s);

}  // namespace publish
