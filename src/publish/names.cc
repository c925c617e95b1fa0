#include "publish/names.h"

#include <algorithm>
#include <map>
#include <set>

#include "base/path_rules.h"
#include "base/text.h"
#include "publish/signing.h"
#include "release/accepted_release.h"
#include "release/large_list.h"

using namespace tvl;

namespace publish {
namespace {

const char kIconDir[] = "data/textures/";

bool hasPrefix(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

bool isDeviceName(const std::string& component) {
  std::string base = asciiLower(component.substr(0, component.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const std::set<std::string> kDevices = {"con", "prn", "aux", "nul"};
  if (kDevices.count(base)) return true;
  return base.size() == 4 && (hasPrefix(base, "com") || hasPrefix(base, "lpt")) && base[3] >= '0' && base[3] <= '9';
}

// Names the launcher itself writes, deletes or reads below its directory, and
// the publisher's own files in the output folder.
std::string reservedReason(const std::string& name, Tree tree) {
  std::string lower = asciiLower(name);
  std::string first = lower.substr(0, lower.find('/'));
  if (first == ".publish-state" || first == ".publish-tmp" || first == ".publish-lock" ||
      first == ".publish-patches")
    return "reserved for the publisher's own files in the output folder";
  if (tree == Tree::Icons) {
    if (lower == "clan_icons_list.txt") return "the icon list itself is served under this name";
    return "";
  }
  if (lower == "files.txt") return "the file list itself is served under this name";
  if (lower == release::kLargeListName) return "the list of files over 2 GiB is served under this name";
  if (lower == "clan_icons_list.txt") return "the launcher deletes this file on every update (it is the icon list)";
  if (lower == "tervalisonline2d.exe.new" || lower == "tervalisonline2d.exe.old" || lower == "tervalisonline2d.new" ||
      lower == "tervalisonline2d.old")
    return "the launcher deletes this file at every start (self-replacement)";
  if (lower == "data/update/update.tmp") return "the launcher's download staging file";
  if (lower == "data/update/update.lock") return "the launcher holds this file while it updates";
  if (lower == "data/update/patch.tmp" || lower == "data/update/patched.tmp" || lower == "data/update/patches.txt")
    return "the launcher's patch staging file";
  if (lower == asciiLower(kManifestName)) return "the signed release manifest is served under this name";
  if (lower == "data/update/" + std::string(release::kAcceptedReleaseName) ||
      lower == "data/update/" + std::string(release::kAcceptedReleaseName) + ".tmp")
    return "the launcher keeps the newest release it accepted in this file";
  if (lower == "data/update/" + std::string(kVerifiedIndexName) ||
      lower == "data/update/" + std::string(kVerifiedIndexName) + ".tmp")
    return "the launcher keeps its record of verified files in this file";
  return "";
}

}  // namespace

std::string asciiLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string nameProblem(const std::string& name, Tree tree) {
  if (name.empty()) return "empty name";
  for (char c : name) {
    if (c == '\t' || c == '\r' || c == '\n') return "contains a TAB, CR or LF, which would break the file list";
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return "contains a control character";
  }
  if (name[0] == '/' || name[0] == '\\') return "absolute path";
  if (name.size() >= 2 && name[1] == ':') return "starts with a drive letter";
  if (name.find('\\') != std::string::npos) return "contains a backslash, a directory separator on Windows";
  if (name.find(':') != std::string::npos) return "contains ':', which Windows file names cannot hold";
  if (name.find_first_of("<>\"|?*") != std::string::npos)
    return "contains one of < > \" | ? *, which Windows file names cannot hold";
  if (name.find_first_of("%#") != std::string::npos)
    return "contains '%' or '#', which the launcher would send unescaped in the request path";
  for (const std::string& part : tvl::splitAt(name, '/')) {
    if (part.empty()) return "empty path component";
    if (part == "..") return "contains a '..' step";
    if (part == ".") return "contains a '.' step";
    if (part.back() == '.' || part.back() == ' ')
      return "a component ends with '.' or ' ', which Windows drops from file names";
    if (isDeviceName(part)) return "'" + part + "' is a reserved device name on Windows";
  }
  std::string programPath = std::string(".\\") + (tree == Tree::Icons ? kIconDir : "") + name;
  if (programPath.size() > kMaxProgramPath)
    return "too long: the launcher's path " + std::string(tree == Tree::Icons ? ".\\data/textures/<name>" : ".\\<name>") +
           " would have " + std::to_string(programPath.size()) + " characters, at most " +
           std::to_string(kMaxProgramPath) + " fit";
  // The launcher's own rules, so that a rule it gains is not missed here.
  if (!tvl::isSafeRelativePath((tree == Tree::Icons ? kIconDir : "") + name))
    return "the launcher refuses it as leaving its folder";
  std::string sanitised = tvl::sanitiseItemName(name);
  if (sanitised != name) return "the launcher would unpack it as '" + sanitised + "'";
  return reservedReason(name, tree);
}

std::vector<NameProblem> checkNames(const std::vector<std::string>& gameNames,
                                    const std::vector<std::string>& iconNames) {
  std::map<std::string, std::string> problems;  // shown name -> reason; first reason wins
  auto add = [&](const std::string& shown, const std::string& reason) { problems.emplace(shown, reason); };

  // Local target (lower case, as Windows compares) -> the name shown and
  // whether it is an icon.
  std::map<std::string, std::pair<std::string, bool>> files;
  std::map<std::string, std::string> dirs;  // every directory a target needs
  auto place = [&](const std::string& local, const std::string& shown, bool icon) {
    std::string lower = asciiLower(local);
    auto [it, fresh] = files.emplace(lower, std::make_pair(shown, icon));
    if (!fresh) {
      const std::string& other = it->second.first;
      if (it->second.second == icon) {
        add(shown, "'" + other + "' differs only in letter case; on Windows they are one file");
        add(other, "'" + shown + "' differs only in letter case; on Windows they are one file");
      } else {
        const char* both = "a game file and a clan icon both install to " ;
        add(shown, both + local + "; the launcher would fetch them again on every start");
        add(other, both + local + "; the launcher would fetch them again on every start");
      }
      return;
    }
    for (size_t slash = lower.find('/'); slash != std::string::npos; slash = lower.find('/', slash + 1))
      dirs.emplace(lower.substr(0, slash), shown);
  };

  for (const std::string& n : gameNames) {
    std::string reason = nameProblem(n, Tree::Game);
    if (!reason.empty()) {
      add(n, reason);
      continue;
    }
    place(n, n, false);
  }
  for (const std::string& n : iconNames) {
    std::string shown = "clan icon " + n;
    std::string reason = nameProblem(n, Tree::Icons);
    if (!reason.empty()) {
      add(shown, reason);
      continue;
    }
    place(kIconDir + n, shown, true);
  }
  for (const auto& [lower, file] : files) {
    auto d = dirs.find(lower);
    if (d != dirs.end()) add(file.first, "is a file, but '" + d->second + "' needs a directory of that name (letter case aside)");
  }

  std::vector<NameProblem> out;
  for (auto& [name, reason] : problems) out.push_back({name, reason});
  return out;
}

namespace {

class GlobMatcher {
 public:
  GlobMatcher(const std::string& pattern, const std::string& text)
      : p_(pattern), t_(text), failed_((pattern.size() + 1) * (text.size() + 1), false) {}

  bool match(size_t p, size_t t) {
    size_t key = p * (t_.size() + 1) + t;
    if (failed_[key]) return false;
    bool ok = step(p, t);
    if (!ok) failed_[key] = true;  // memo keeps patterns with many stars polynomial
    return ok;
  }

 private:
  bool step(size_t p, size_t t) {
    if (p == p_.size()) return t == t_.size();
    char c = p_[p];
    if (c == '*') {
      if (p + 1 < p_.size() && p_[p + 1] == '*') {
        size_t q = p + 2;
        if (q < p_.size() && p_[q] == '/') {
          // "**/": zero or more whole directories.
          for (size_t i = t; i <= t_.size(); ++i)
            if ((i == t || t_[i - 1] == '/') && match(q + 1, i)) return true;
          return false;
        }
        for (size_t i = t; i <= t_.size(); ++i)
          if (match(q, i)) return true;
        return false;
      }
      for (size_t i = t; i <= t_.size(); ++i) {
        if (match(p + 1, i)) return true;
        if (i < t_.size() && t_[i] == '/') break;
      }
      return false;
    }
    if (t == t_.size()) return false;
    unsigned char u = static_cast<unsigned char>(t_[t]);
    if (c == '?') return u != '/' && match(p + 1, t + 1);
    if (c == '[') {
      size_t q = p + 1;
      bool negate = q < p_.size() && (p_[q] == '!' || p_[q] == '^');
      if (negate) ++q;
      size_t first = q;
      bool found = false;
      while (q < p_.size() && (p_[q] != ']' || q == first)) {
        unsigned char lo = static_cast<unsigned char>(p_[q]), hi = lo;
        if (q + 2 < p_.size() && p_[q + 1] == '-' && p_[q + 2] != ']') {
          hi = static_cast<unsigned char>(p_[q + 2]);
          q += 2;
        }
        if (u >= lo && u <= hi) found = true;
        ++q;
      }
      if (q < p_.size()) return u != '/' && found != negate && match(q + 1, t + 1);
      // No closing "]": the "[" is literal.
    }
    return t_[t] == c && match(p + 1, t + 1);
  }

  const std::string& p_;
  const std::string& t_;
  std::vector<bool> failed_;
};

}  // namespace

bool globMatch(const std::string& pattern, const std::string& text) { return GlobMatcher(pattern, text).match(0, 0); }

std::string Filter::normalise(const std::string& pattern) {
  std::string p = pattern;
  while (p.size() > 1 && p[0] == '.' && p[1] == '/') p.erase(0, 2);
  if (!p.empty() && p.back() == '/') p += "**";
  return p;
}

bool Filter::matches(const std::string& pattern, const std::string& name) {
  if (pattern.find('/') == std::string::npos) {
    for (const std::string& part : tvl::splitAt(name, '/'))
      if (globMatch(pattern, part)) return true;
    return false;
  }
  std::string anchored = pattern[0] == '/' ? pattern.substr(1) : pattern;
  if (globMatch(anchored, name)) return true;
  // "tools" as a directory: "tools/x" matches "tools/x/**" too.
  for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
    if (globMatch(anchored, name.substr(0, slash))) return true;
  return false;
}

bool Filter::accepts(const std::string& name) const {
  for (const std::string& p : excludes_)
    if (matches(p, name)) return false;
  if (includes_.empty()) return true;
  for (const std::string& p : includes_)
    if (matches(p, name)) return true;
  return false;
}

}  // namespace publish
