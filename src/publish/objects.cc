#include "publish/objects.h"

#include <algorithm>

#include "base/text.h"
#include "platform/fs.h"
#include "platform/tree.h"
#include "publish/pack.h"
#include "release/manifest.h"

namespace publish {
namespace {

using platform::joinPath;
using platform::pathInfo;
using platform::PathKind;

constexpr char kObjectsDir[] = "objects";
constexpr char kKeptSuffix[] = ".sig";

bool isHex64(const std::string& s) {
  return s.size() == 64 && std::all_of(s.begin(), s.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// The kept manifests by release number, newest first.
bool listKept(const std::string& storeDir, std::vector<std::pair<uint64_t, std::string>>* kept, std::string* error) {
  kept->clear();
  if (pathInfo(storeDir).kind == PathKind::Missing) return true;
  std::vector<platform::ListedFile> files;
  if (!platform::listFiles(storeDir, &files, error)) return false;
  const std::string suffix = kKeptSuffix;
  for (const platform::ListedFile& f : files) {
    uint64_t n = 0;
    if (f.name.size() <= suffix.size() || f.name.compare(f.name.size() - suffix.size(), suffix.size(), suffix) != 0 ||
        !tvl::parseDecimal(f.name.substr(0, f.name.size() - suffix.size()), UINT64_MAX, &n))
      continue;
    kept->push_back({n, f.path});
  }
  std::sort(kept->begin(), kept->end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  return true;
}

}  // namespace

std::string objectPathOf(const std::string& sha256Hex) {
  return std::string(kObjectsDir) + "/" + sha256Hex.substr(0, 2) + "/" + sha256Hex;
}

bool storeObjects(const std::vector<ObjectFile>& files, const platform::Md5Provider& md5, ObjectCounts* counts,
                  std::string* error) {
  for (const ObjectFile& f : files) {
    if (!isHex64(f.sha256)) {
      *error = "no SHA-256 known for " + f.path;
      return false;
    }
    std::string target = joinPath(f.outputDir, objectPathOf(f.sha256));
    platform::PathInfo there = pathInfo(target);
    if (there.kind == PathKind::File && there.size == f.size) continue;
    // Something else at the address was never a whole object of ours.
    if (there.kind != PathKind::Missing && !platform::removeFile(target, error)) return false;
    if (!platform::makeDirectories(joinPath(f.outputDir, std::string(kObjectsDir) + "/" + f.sha256.substr(0, 2)),
                                   error))
      return false;
    std::string ignored;
    if (platform::hardLink(f.path, target, &ignored)) {
      counts->written++;
      counts->linked++;
      continue;
    }
    std::string temp = joinPath(f.tempDir, "object.tmp");
    PackResult r;
    if (!copyFile(md5, f.path, temp, &r, error)) return false;
    if (r.outputSize != f.size || r.sha256 != f.sha256) {
      platform::removeFile(temp, &ignored);
      *error = f.path + " no longer holds the bytes published for it; run again with --force";
      return false;
    }
    if (!platform::replaceFile(temp, target, error)) return false;
    counts->written++;
  }
  return true;
}

bool rememberRelease(const std::string& storeDir, const std::string& manifestText, unsigned keep, std::string* error) {
  release::Manifest m;
  if (!release::readManifestUnchecked(manifestText, &m)) return true;
  if (!platform::makeDirectories(storeDir, error)) return false;
  std::string name = joinPath(storeDir, std::to_string(m.release) + kKeptSuffix);
  std::string current;
  if (!(readWholeFile(name, &current) && current == manifestText)) {
    std::string temp = name + ".tmp";
    if (!writeWholeFile(temp, manifestText, error) || !platform::replaceFile(temp, name, error)) return false;
  }
  std::vector<std::pair<uint64_t, std::string>> kept;
  if (!listKept(storeDir, &kept, error)) return false;
  for (size_t i = keep; i < kept.size(); ++i)
    if (!platform::removeFile(kept[i].second, error)) return false;
  return true;
}

bool digestsKept(const std::string& storeDir, bool icons, std::set<std::string>* digests, std::string* error) {
  std::vector<std::pair<uint64_t, std::string>> kept;
  if (!listKept(storeDir, &kept, error)) return false;
  for (const auto& k : kept) {
    std::string text;
    release::Manifest m;
    if (!readWholeFile(k.second, &text) || !release::readManifestUnchecked(text, &m)) {
      *error = k.second + " does not read as a release manifest; no objects were removed";
      return false;
    }
    for (const release::FileEntry& e : m.files)
      if ((e.origin == release::Origin::Icons) == icons)
        digests->insert(tvl::toHexLower(e.sha256.data(), e.sha256.size()));
  }
  return true;
}

bool pruneObjects(const std::string& outputDir, const std::set<std::string>& keep, ObjectCounts* counts,
                  std::string* error) {
  std::string dir = joinPath(outputDir, kObjectsDir);
  if (pathInfo(dir).kind != PathKind::Directory) return true;
  std::vector<platform::ListedFile> files;
  if (!platform::listFiles(dir, &files, error)) return false;
  for (const platform::ListedFile& f : files) {
    // Only addresses: "xx/<64 hex>" whose first two digits name its folder.
    size_t slash = f.name.find('/');
    if (slash != 2) continue;
    std::string hex = f.name.substr(3);
    if (!isHex64(hex) || f.name.compare(0, 2, hex, 0, 2) != 0 || keep.count(hex)) continue;
    if (!platform::removeFile(f.path, error)) return false;
    counts->removed++;
    platform::removeEmptyDirectory(joinPath(dir, f.name.substr(0, 2)));
  }
  return true;
}

}  // namespace publish
