#include "update/check_index.h"

#include <cstdio>
#include <memory>
#include <string_view>

#include "base/path_rules.h"
#include "base/text.h"
#include "release/patch_list.h"
#include "release/sha256.h"
#include "transfer/paths.h"
#include "transfer/support_log.h"
#include "update/local_hash.h"

namespace tvl {


namespace {

// An index made by the other platform's build never matches: its identities
// mean something else.
#ifdef _WIN32
const char kHeader[] = "TervalisOnline2D verified files 1 windows\n";
#else
const char kHeader[] = "TervalisOnline2D verified files 1 posix\n";
#endif

std::string identityText(const platform::FileIdentity& id, char sep) {
  return std::to_string(id.size) + sep + std::to_string(id.mtimeNs) + sep + std::to_string(id.volume) + sep +
         std::to_string(id.index);
}

std::string checksumOf(const std::string& text) {
  release::Digest d = release::sha256Of(text.data(), text.size());
  return toHexLower(d.data(), d.size());
}

// Cuts the next field up to sep (or the end) off the front of *rest.
std::string field(std::string_view* rest, char sep) {
  size_t cut = rest->find(sep);
  std::string f(rest->substr(0, cut));
  rest->remove_prefix(cut == std::string_view::npos ? rest->size() : cut + 1);
  return f;
}

bool parseUnsigned(const std::string& s, uint64_t* out) { return parseDecimal(s, UINT64_MAX, out); }

bool parseIdentity(std::string_view* rest, char sep, platform::FileIdentity* id) {
  return parseUnsigned(field(rest, sep), &id->size) && parseSignedDecimal(field(rest, sep), &id->mtimeNs) &&
         parseUnsigned(field(rest, sep), &id->volume) && parseUnsigned(field(rest, sep), &id->index);
}

}  // namespace

std::string formatCheckIndex(const CheckIndex& index) {
  std::string text = kHeader;
  text += "launcher " + identityText(index.launcher, ' ') + "\n";
  text += "full " + std::to_string(index.lastFullCheck) + "\n";
  for (const auto& f : index.files)
    text += f.second.digest + "\t" + identityText(f.second.identity, '\t') + "\t" + f.first + "\n";
  return text + "end " + std::to_string(index.files.size()) + " " + checksumOf(text) + "\n";
}

bool parseCheckIndex(const std::string& text, CheckIndex* out) {
  // The last line seals everything before it.
  if (text.size() < 2 || text.back() != '\n') return false;
  size_t endLine = text.rfind('\n', text.size() - 2);
  if (endLine == std::string::npos) return false;
  std::string body = text.substr(0, endLine + 1);
  std::string sealText = text.substr(endLine + 1, text.size() - endLine - 2);
  std::string_view seal = sealText;
  if (field(&seal, ' ') != "end") return false;
  uint64_t count = 0;
  if (!parseUnsigned(field(&seal, ' '), &count) || seal != checksumOf(body)) return false;
  if (body.compare(0, sizeof kHeader - 1, kHeader) != 0) return false;

  CheckIndex index;
  std::string_view rest = body;
  rest.remove_prefix(sizeof kHeader - 1);
  std::string text1 = field(&rest, '\n');
  std::string_view line = text1;
  if (field(&line, ' ') != "launcher" || !parseIdentity(&line, ' ', &index.launcher) || !line.empty()) return false;
  std::string text2 = field(&rest, '\n');
  line = text2;
  if (field(&line, ' ') != "full" || !parseSignedDecimal(std::string(line), &index.lastFullCheck)) return false;
  while (!rest.empty()) {
    size_t cut = rest.find('\n');
    line = rest.substr(0, cut);
    rest.remove_prefix(cut == std::string_view::npos ? rest.size() : cut + 1);
    CheckIndex::Record r;
    r.digest = field(&line, '\t');
    if (!release::isMd5Text(r.digest) || !parseIdentity(&line, '\t', &r.identity) || line.empty()) return false;
    index.files.emplace_hint(index.files.end(), std::string(line), r);
  }
  if (index.files.size() != count) return false;
  *out = std::move(index);
  return true;
}

IndexState readCheckIndex(const std::string& path, CheckIndex* out, std::string* textOut) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(platform::nativePath(path).c_str(), "rb"),
                                                   std::fclose);
  if (!f) return platform::findPath(path) ? IndexState::kDamaged : IndexState::kMissing;
  std::string text;
  char buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f.get())) > 0) text.append(buf, got);
  if (std::ferror(f.get()) || !parseCheckIndex(text, out)) return IndexState::kDamaged;
  if (textOut) *textOut = std::move(text);
  return IndexState::kOk;
}

bool writeCheckIndex(const std::string& path, const CheckIndex& index, std::string* error) {
  return platform::writeFileReplacing(path, formatCheckIndex(index), error);
}

std::string fullCheckReason(IndexState state, const CheckIndex& index, bool launcherKnown,
                            const platform::FileIdentity& launcher, bool restarted, int64_t now, int fullCheckDays) {
  if (state == IndexState::kMissing) return "no index yet";
  if (state == IndexState::kDamaged) return "index damaged";
  if (!launcherKnown) return "the launcher's own file cannot be read";
  if (restarted || index.launcher != launcher) return "the launcher was replaced";
  if (now < index.lastFullCheck) return "the clock is before the last full check";
  if (now - index.lastFullCheck >= static_cast<int64_t>(fullCheckDays) * 86400)
    return "last full check " + std::to_string((now - index.lastFullCheck) / 86400) + " days ago";
  return "";
}

LocalCheck::LocalCheck(Updater& updater, bool restarted) : updater_(updater), enabled_(updater.options.checkIndex) {
  if (!enabled_) return;
  path_ = dataPath("update\\") + kVerifiedIndexName;
  platform::removeFile(path_ + ".tmp");  // a write that a killed run left half done
  launcherKnown_ = platform::fileIdentity(baseDir + updater.launcherName, &new_.launcher);
  IndexState state = readCheckIndex(path_, &old_, &oldText_);
  int64_t now = updater.clock ? updater.clock() : 0;
  fullReason_ = fullCheckReason(state, old_, launcherKnown_, new_.launcher, restarted, now,
                                updater.options.fullCheckDays);
  if (fullReason_.empty()) {
    new_.lastFullCheck = old_.lastFullCheck;
  } else {
    new_.lastFullCheck = now;
    old_.files.clear();  // nothing is trusted
  }
}

bool LocalCheck::check(FileListEntry& entry) {
  if (!enabled_) return checkLocalFile(updater_, entry);
  ++checked_;
  std::string key = entry.directory + entry.name;
  if (!isSafeRelativePath(key)) return checkLocalFile(updater_, entry);
  std::string path = baseDir + key;
  platform::FileIdentity before;
  bool recorded = old_.files.count(key) != 0;
  bool known = recorded ? listedIdentity(path, &before) : platform::fileIdentity(path, &before);
  if (known) {
    // Current only against the list's digest; a changed file and a missing
    // one take the ordinary road.
    auto it = old_.files.find(key);
    if (it != old_.files.end() && it->second.identity == before) {
      if (it->second.digest == entry.digest) {
        entry.localDigest = it->second.digest;
        new_.files[key] = it->second;
        ++trusted_;
        return false;
      }
      // The entry changed since the file was verified: the file's digest is
      // known (the base a patch needs), and only whether the file may be
      // replaced (not in use) is left to see. A wrong base fails the patched
      // file's digest, and the whole file comes instead. The record stays
      // for a start after a failed update; it never makes the file current.
      if (!equalsNoCase(key, updater_.launcherName) && platform::File::openExclusiveRead(path).valid()) {
        entry.localDigest = it->second.digest;
        new_.files[key] = it->second;
        ++trusted_;
        return true;
      }
    }
    ++read_;
  }
  bool fetch = checkLocalFile(updater_, entry);
  // Recorded only when the file did not change while it was read.
  platform::FileIdentity after;
  if (known && !fetch && !entry.localDigest.empty() && entry.localDigest == entry.digest &&
      platform::fileIdentity(path, &after) && after == before)
    new_.files[key] = CheckIndex::Record{entry.localDigest, before};
  return fetch;
}

bool LocalCheck::listedIdentity(const std::string& path, platform::FileIdentity* out) {
  size_t cut = path.find_last_of("\\/");
  std::string dir = cut == std::string::npos ? "." : path.substr(0, cut == 0 ? 1 : cut);
  auto listing = listings_.find(dir);
  if (listing == listings_.end()) {
    listing = listings_.emplace(dir, std::map<std::string, platform::FileIdentity>()).first;
    if (!platform::listIdentities(dir, &listing->second)) listing->second.clear();
  }
  auto found = listing->second.find(path.substr(cut == std::string::npos ? 0 : cut + 1));
  // Not listed under this spelling (letter case, a link): ask for the file.
  if (found == listing->second.end()) return platform::fileIdentity(path, out);
  *out = found->second;
  return true;
}

void LocalCheck::finish() {
  if (!enabled_) return;
  std::string line = "local check: " + std::to_string(checked_) + " files, " + std::to_string(read_) + " read, " +
                     std::to_string(trusted_) + " unchanged since verified";
  supportLog().note(line + (fullReason_.empty() ? "" : "; full check: " + fullReason_));
  if (!launcherKnown_) return;  // nothing to tie the index to
  std::string text = formatCheckIndex(new_);
  if (text == oldText_) return;  // nothing changed: no write at every start
  std::string error;
  if (!platform::writeFileReplacing(path_, text, &error)) supportLog().note("local check: index not written: " + error);
}

}  // namespace tvl
