#include "publish/patches.h"

#include <map>
#include <set>

#include "base/text.h"
#include "platform/fs.h"
#include "platform/md5.h"
#include "platform/tree.h"
#include "publish/names.h"
#include "publish/pack.h"
#include "publish/pool.h"
#include "publish/publisher.h"
#include "release/patch_list.h"
#include "release/patch_make.h"

namespace publish {
namespace {

using platform::joinPath;
using platform::pathInfo;
using platform::PathInfo;
using platform::PathKind;
using platform::removeFile;
using platform::replaceFile;

const char kMagic[] = "tervalis-publish-patches 1";
const char kPatchDir[] = "patches";

using Pair = std::pair<std::string, std::string>;  // base MD5, target MD5

struct Version {
  uint64_t size = 0;
  int64_t mtimeNs = 0;
  std::string md5;
};

// A served list: patches.txt, or piece_patches.txt for piece-wise patches.
struct ListState {
  std::string md5;  // "" when the list is not served
  int64_t stamp = 0;
  uint64_t outputSize = 0;
};

struct PatchState {
  std::string format;  // release::kPatchFormat (and piece size) the patches were made with
  ListState list, pieceList;
  std::map<std::string, Version> versions;  // earlier versions by path
  std::map<Pair, uint64_t> made;            // patches on disk: size
  std::map<Pair, uint64_t> madePieces;      // piece-wise patches on disk: size
  std::map<Pair, uint64_t> large;           // came out at least this large
};

std::string listLine(const char* key, const ListState& l) {
  return std::string(key) + '\t' + (l.md5.empty() ? "-" : l.md5) + '\t' + std::to_string(l.stamp) + '\t' +
         std::to_string(l.outputSize) + '\n';
}

bool parseListLine(const std::vector<std::string>& f, const char* key, ListState* l) {
  if (f.size() != 4 || f[0] != key || (f[1] != "-" && !release::isMd5Text(f[1])) ||
      !tvl::parseSignedDecimal(f[2], &l->stamp) || !tvl::parseDecimal(f[3], INT64_MAX, &l->outputSize))
    return false;
  if (f[1] != "-") l->md5 = f[1];
  return true;
}

std::string serialise(const PatchState& s) {
  std::string out = std::string(kMagic) + "\nformat\t" + s.format + '\n' + listLine("list", s.list);
  // Only with piece-wise patches, so a state without them reads as before.
  if (!s.pieceList.md5.empty()) out += listLine("piecelist", s.pieceList);
  for (const auto& [path, v] : s.versions)
    out += "version\t" + path + '\t' + std::to_string(v.size) + '\t' + std::to_string(v.mtimeNs) + '\t' + v.md5 + '\n';
  for (const auto& [pair, size] : s.made)
    out += "made\t" + pair.first + '\t' + pair.second + '\t' + std::to_string(size) + '\n';
  for (const auto& [pair, size] : s.madePieces)
    out += "pieces\t" + pair.first + '\t' + pair.second + '\t' + std::to_string(size) + '\n';
  for (const auto& [pair, size] : s.large)
    out += "large\t" + pair.first + '\t' + pair.second + '\t' + std::to_string(size) + '\n';
  return out + "end\n";
}

// A damaged state gives false: everything is then worked out anew.
bool parse(const std::string& text, PatchState* state) {
  PatchState s;
  size_t pos = 0;
  bool ended = false;
  for (size_t n = 0; pos < text.size(); ++n) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos || ended) return false;
    std::vector<std::string> f = tvl::splitTabs(text.substr(pos, nl - pos));
    pos = nl + 1;
    if (n == 0) {
      if (f.size() != 1 || f[0] != kMagic) return false;
    } else if (n == 1) {
      if (f.size() != 2 || f[0] != "format") return false;
      s.format = f[1];
    } else if (n == 2) {
      if (!parseListLine(f, "list", &s.list)) return false;
    } else if (n == 3 && !f.empty() && f[0] == "piecelist") {
      if (!parseListLine(f, "piecelist", &s.pieceList)) return false;
    } else if (f.size() == 1 && f[0] == "end") {
      ended = true;
    } else if (f.size() == 5 && f[0] == "version") {
      Version v;
      if (f[1].empty() || !tvl::parseDecimal(f[2], INT64_MAX, &v.size) || !tvl::parseSignedDecimal(f[3], &v.mtimeNs) || !release::isMd5Text(f[4]))
        return false;
      v.md5 = f[4];
      s.versions[f[1]] = v;
    } else if (f.size() == 4 && (f[0] == "made" || f[0] == "pieces" || f[0] == "large")) {
      uint64_t size;
      if (!release::isMd5Text(f[1]) || !release::isMd5Text(f[2]) || !tvl::parseDecimal(f[3], INT64_MAX, &size)) return false;
      (f[0] == "made" ? s.made : f[0] == "pieces" ? s.madePieces : s.large)[{f[1], f[2]}] = size;
    } else {
      return false;
    }
  }
  if (!ended) return false;
  *state = std::move(s);
  return true;
}

// Piece-wise patches get another suffix: `zstd -d` reads only the others.
std::string patchPath(const Pair& p, bool pieces) {
  return std::string(kPatchDir) + "/" + p.first + "-" + p.second + (pieces ? ".zsp" : ".zst");
}

// An earlier version of one file, in the order the folders were given.
struct Candidate {
  std::string path;
  Version version;
};

// The patches wanted for one release file, and what became of them.
struct Wanted {
  Candidate base;
  uint64_t limit = 0;  // kept only below this size
  bool pieces = false;  // made piece-wise (listed in piece_patches.txt)
  bool make = false;   // not known from an earlier run
  bool listed = false;
  uint64_t size = 0;
};

struct Group {
  const PatchTarget* target;
  std::vector<Wanted> wanted;
};

bool unchanged(const std::string& path, uint64_t size, int64_t mtimeNs, std::string* error) {
  PathInfo now = pathInfo(path);
  if (now.kind != PathKind::File || now.size != size || now.mtimeNs != mtimeNs) {
    *error = path + " changed while it was being published; run again when it is complete";
    return false;
  }
  return true;
}

}  // namespace

struct Patches::Impl {
  const PublishOptions& o;
  const platform::Md5Provider& md5;
  std::string outputDir;
  std::string tempDir;
  PatchReport* report;
  PatchState old, next;
  bool hadState = false;
  std::vector<std::string> dirs;  // --previous, absolute, without repeats
  std::vector<Group> groups;
  std::set<std::string> releaseNames;  // lower case: never deleted as ours
  int64_t listStamp = 0;

  Impl(const PublishOptions& options, const platform::Md5Provider& provider) : o(options), md5(provider) {}
  bool on() const { return !o.previousDirs.empty(); }
  std::string outPath(const std::string& name) const { return joinPath(outputDir, name); }
  bool isReleaseName(const std::string& name) const { return releaseNames.count(asciiLower(name)) > 0; }
  // Writes one patch list, or takes it away when it has no entries.
  bool publishOne(const char* name, const std::vector<release::PatchEntry>& entries, const ListState& old,
                  ListState* next, std::string* error);
};

Patches::Patches(const PublishOptions& options, const platform::Md5Provider& md5, const std::string& outputDir,
                 const std::string& tempDir, PatchReport* report)
    : impl_(new Impl(options, md5)) {
  Impl& m = *impl_;
  m.outputDir = outputDir;
  m.tempDir = tempDir;
  m.report = report;
  std::string text;
  if (readWholeFile(m.outPath(kPatchStateFile), &text)) {
    m.hadState = true;
    if (!parse(text, &m.old)) m.old = PatchState();
  }
  std::set<std::string> seen;
  for (const std::string& d : options.previousDirs)
    if (seen.insert(platform::absolutePath(d)).second) m.dirs.push_back(platform::absolutePath(d));
  m.report->active = m.on() || m.hadState;
}

Patches::~Patches() = default;

bool Patches::check(std::string* error) const {
  for (const std::string& d : impl_->o.previousDirs)
    if (pathInfo(d).kind != PathKind::Directory) {
      *error = "--previous " + d + " is not a folder";
      return false;
    }
  return true;
}

std::string Patches::reservedReason(const std::string& name) const {
  if (!impl_->on()) return "";
  std::string lower = asciiLower(name);
  if (lower == release::kPatchListName || lower == release::kPiecePatchListName)
    return "the patch list is served under this name (--previous)";
  if (lower == kPatchDir || lower.compare(0, sizeof kPatchDir, std::string(kPatchDir) + "/") == 0)
    return "patches are served below patches/ (--previous)";
  return "";
}

bool Patches::make(const std::vector<PatchTarget>& targets, int64_t listStamp, Progress* progress,
                   std::string* error) {
  Impl& m = *impl_;
  m.listStamp = listStamp;
  for (const PatchTarget& t : targets) m.releaseNames.insert(asciiLower(t.name));
  m.next.format = release::kPatchFormat;
  if (m.o.patchPieceSize) m.next.format += " pieces " + std::to_string(m.o.patchPieceSize);
  if (!m.on() || m.o.dryRun) return true;
  bool sameFormat = m.old.format == m.next.format && !m.o.force;

  // The earlier versions of every large file, and which must be hashed.
  std::vector<std::vector<Candidate>> found(targets.size());
  std::vector<Candidate*> toHash;
  for (size_t i = 0; i < targets.size(); ++i) {
    const PatchTarget& t = targets[i];
    if (t.size < m.o.patchMinSize || t.name == kLauncherName) continue;
    for (const std::string& dir : m.dirs) {
      std::string path = joinPath(dir, t.name);
      PathInfo info = pathInfo(path);
      if (info.kind != PathKind::File || info.size == 0) continue;
      found[i].push_back({path, {info.size, info.mtimeNs, ""}});
    }
  }
  for (auto& list : found)
    for (Candidate& c : list) {
      auto known = m.old.versions.find(c.path);
      if (known != m.old.versions.end() && known->second.size == c.version.size &&
          known->second.mtimeNs == c.version.mtimeNs && !m.o.rehash)
        c.version.md5 = known->second.md5;
      else
        toHash.push_back(&c);
    }
  for (Candidate* c : toHash) progress->bytesTotal += c->version.size;
  progress->filesTotal += toHash.size();
  bool hashed = runPool(
      m.o.jobs, toHash.size(),
      [&](size_t i, std::string* err) {
        Candidate& c = *toHash[i];
        PackResult r;
        if (!hashFile(m.md5, c.path, &r, err, [progress](uint64_t n) { progress->bytesDone += n; }) ||
            !unchanged(c.path, c.version.size, c.version.mtimeNs, err))
          return false;
        c.version.md5 = r.md5;
        progress->filesDone++;
        return true;
      },
      error);
  if (!hashed) return false;

  // From each of the newest few versions that differ from the file itself.
  uint64_t toMake = 0;
  for (size_t i = 0; i < targets.size(); ++i) {
    const PatchTarget& t = targets[i];
    Group g{&t, {}};
    std::set<std::string> bases;
    for (const Candidate& c : found[i]) {
      // A path the state's lines cannot hold is simply hashed again next time.
      if (c.path.find_first_of("\t\r\n") == std::string::npos) m.next.versions[c.path] = c.version;
      if (c.version.md5 == t.md5 || bases.size() >= m.o.patchVersions || !bases.insert(c.version.md5).second)
        continue;
      Wanted w;
      w.base = c;
      w.limit = t.archiveSize * m.o.patchKeepPercent / 100;
      w.pieces = release::pieceSizeFor(c.version.size, t.size, m.o.patchPieceSize) != 0;
      Pair key{c.version.md5, t.md5};
      const std::map<Pair, uint64_t>& oldMade = w.pieces ? m.old.madePieces : m.old.made;
      auto made = oldMade.find(key);
      auto large = m.old.large.find(key);
      PathInfo served = pathInfo(m.outPath(patchPath(key, w.pieces)));
      if (sameFormat && made != oldMade.end() && served.kind == PathKind::File && served.size == made->second) {
        w.size = made->second;
        w.listed = w.size < w.limit;
      } else if (sameFormat && large != m.old.large.end() && w.limit <= large->second) {
        m.next.large[key] = large->second;
      } else {
        w.make = true;
        ++toMake;
        progress->bytesTotal += t.size;
      }
      g.wanted.push_back(w);
    }
    if (!g.wanted.empty()) m.groups.push_back(std::move(g));
  }

  // One job per file, its patches one after the other: the file is mapped
  // exclusively while a patch is made from it.
  if (toMake > 0 && !platform::makeDirectories(m.outPath(kPatchDir), error)) return false;
  progress->filesTotal += toMake;
  bool made = runPool(
      m.o.jobs, m.groups.size(),
      [&](size_t gi, std::string* err) {
        Group& g = m.groups[gi];
        const PatchTarget& t = *g.target;
        for (size_t wi = 0; wi < g.wanted.size(); ++wi) {
          Wanted& w = g.wanted[wi];
          if (!w.make) continue;
          std::string temp = joinPath(m.tempDir, "patch-" + std::to_string(gi) + "-" + std::to_string(wi) + ".tmp");
          release::PatchMakeResult r;
          if (!release::makePatch(w.base.path, t.path, temp, w.limit, &r, err,
                                  [progress](uint64_t n) { progress->bytesDone += n; }, m.o.patchPieceSize) ||
              !unchanged(t.path, t.size, t.mtimeNs, err) ||
              !unchanged(w.base.path, w.base.version.size, w.base.version.mtimeNs, err) ||
              (!r.tooLarge && !replaceFile(temp, m.outPath(patchPath({w.base.version.md5, t.md5}, w.pieces)), err))) {
            std::string ignored;
            removeFile(temp, &ignored);
            return false;
          }
          w.size = r.size;
          w.listed = !r.tooLarge;
          progress->filesDone++;
        }
        return true;
      },
      error);
  if (!made) return false;

  for (const Group& g : m.groups)
    for (const Wanted& w : g.wanted) {
      Pair key{w.base.version.md5, g.target->md5};
      if (w.listed) {
        (w.pieces ? m.next.madePieces : m.next.made)[key] = w.size;
        m.report->listed++;
        m.report->bytes += w.size;
        m.report->made += w.make;
      } else {
        m.report->tooLarge++;
        // At least this large: retried only once the limit grows past it.
        if (!m.next.large.count(key)) m.next.large[key] = w.make ? w.limit : w.size;
      }
    }
  return true;
}

bool Patches::publishList(std::string* error) {
  Impl& m = *impl_;
  if (m.o.dryRun) return true;
  std::vector<release::PatchEntry> entries[2];  // one frame, pieces
  for (const Group& g : m.groups)
    for (const Wanted& w : g.wanted)
      if (w.listed) {
        Pair key{w.base.version.md5, g.target->md5};
        entries[w.pieces].push_back({g.target->name, key.first, key.second, w.size, patchPath(key, w.pieces)});
      }
  return m.publishOne(release::kPatchListName, entries[0], m.old.list, &m.next.list, error) &&
         m.publishOne(release::kPiecePatchListName, entries[1], m.old.pieceList, &m.next.pieceList, error);
}

bool Patches::Impl::publishOne(const char* name, const std::vector<release::PatchEntry>& entries,
                               const ListState& old, ListState* next, std::string* error) {
  Impl& m = *this;
  std::string target = m.outPath(name);
  if (entries.empty()) {
    // Only a list this publisher wrote is taken away.
    if (!old.md5.empty() && !m.isReleaseName(name)) {
      if (!removeFile(target, error)) return false;
      m.report->listChanged = true;
      m.report->changedLists.push_back(name);
    }
    return true;
  }
  std::string text = release::formatPatchList(entries);
  next->md5 = platform::md5HexOf(m.md5, text.data(), text.size());
  if (next->md5.empty()) {
    *error = std::string("cannot compute the MD5 of ") + name;
    return false;
  }
  next->stamp = m.listStamp;
  PathInfo served = pathInfo(target);
  if (old.md5 == next->md5 && old.stamp == next->stamp && served.kind == PathKind::File &&
      served.size == old.outputSize && !m.o.force) {
    next->outputSize = old.outputSize;
    return true;
  }
  std::string temp = joinPath(m.tempDir, "patches.tmp");
  PackResult r;
  if (!packBytes(m.md5, text, name, m.listStamp, m.o.level, temp, &r, error)) return false;
  next->outputSize = r.outputSize;
  m.report->listChanged = true;
  m.report->changedLists.push_back(name);
  platform::flushFileSystem(m.outputDir);
  return replaceFile(temp, target, error);
}

bool Patches::finish(std::string* error) {
  Impl& m = *impl_;
  if (m.o.dryRun || !m.report->active) return true;
  std::set<std::string> keep, ours;
  for (bool pieces : {false, true}) {
    for (const auto& [pair, size] : pieces ? m.next.madePieces : m.next.made) keep.insert(patchPath(pair, pieces));
    for (const auto& [pair, size] : pieces ? m.old.madePieces : m.old.made) ours.insert(patchPath(pair, pieces));
  }
  // With --previous the folder is reserved, so strays of a run cut short go too.
  std::vector<platform::ListedFile> present;
  std::string dir = m.outPath(kPatchDir);
  if (m.on() && pathInfo(dir).kind == PathKind::Directory && platform::listFiles(dir, &present, error))
    for (const platform::ListedFile& f : present) ours.insert(std::string(kPatchDir) + "/" + f.name);
  for (const std::string& name : ours) {
    if (keep.count(name) || m.isReleaseName(name)) continue;
    if (!removeFile(m.outPath(name), error)) return false;
  }
  platform::removeEmptyDirectory(dir);

  std::string statePath = m.outPath(kPatchStateFile);
  if (!m.on()) return removeFile(statePath, error);
  std::string text = serialise(m.next), current;
  if (readWholeFile(statePath, &current) && current == text) return true;
  std::string temp = joinPath(m.tempDir, "patches-state.tmp");
  return writeWholeFile(temp, text, error) && replaceFile(temp, statePath, error);
}

}  // namespace publish
