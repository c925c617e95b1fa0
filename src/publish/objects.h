// The object store of a signed tree: every file the manifest names is served
// a second time at objects/<2 hex>/<sha256> below its output folder, an
// address whose bytes never change, so no cache can hand a launcher with a
// key another release's file. On one file system an object is a hard link of
// the served file, so the disk holds its bytes once.
//
// Objects are written before the manifest that names them and never
// rewritten. The manifests of the latest releases are kept in
// .publish-releases/ of the game output; an object none of them names is
// removed after the new manifest is in place.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/md5.h"

namespace publish {

constexpr char kReleasesDir[] = ".publish-releases";

struct ObjectFile {
  std::string outputDir;  // the object goes below this
  std::string tempDir;    // on the same file system, for copies
  std::string path;       // the served file holding its bytes
  uint64_t size = 0;
  std::string sha256;  // lower-case hex
};

struct ObjectCounts {
  uint64_t written = 0;
  uint64_t linked = 0;
  uint64_t removed = 0;
};

// "objects/ab/ab...", relative to the output folder.
std::string objectPathOf(const std::string& sha256Hex);

// Stores every file not stored yet: a hard link where the file system allows,
// else a copy whose SHA-256 is checked before it is moved into place. An
// object already there with the right size is left as it is.
bool storeObjects(const std::vector<ObjectFile>& files, const platform::Md5Provider& md5, ObjectCounts* counts,
                  std::string* error);

// Keeps a manifest's text as <release>.sig in storeDir (one that does not
// read is not kept), then removes all but the newest `keep`.
bool rememberRelease(const std::string& storeDir, const std::string& manifestText, unsigned keep, std::string* error);

// The digests (hex) the kept manifests name, for one origin. False when a
// kept manifest does not read: then nothing may be pruned.
bool digestsKept(const std::string& storeDir, bool icons, std::set<std::string>* digests, std::string* error);

// Removes the objects below outputDir whose digest is not in keep.
bool pruneObjects(const std::string& outputDir, const std::set<std::string>& keep, ObjectCounts* counts,
                  std::string* error);

}  // namespace publish
