// The publisher's memory of its last run, kept beside the output as
// ".publish-state": for every published file the size and modification time
// it had, its MD5, the time its archive carries and the size of what was
// written. A file whose size and modification time are unchanged is not read
// again; an output whose inputs are unchanged is not written again. Signed
// runs also keep the SHA-256 of every output, so that an unchanged output is
// not read again for the release manifest; state files without any are
// written in the first form ("tervalis-publish-state 1") as before.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace publish {

struct StateEntry {
  uint64_t size = 0;
  int64_t mtimeNs = 0;
  std::string md5;
  int64_t stamp = 0;        // time written into the archive and the list
  uint64_t outputSize = 0;  // size of the archive (or plain copy) served
  std::string outputSha256;  // of what is served, lower-case hex; empty when unknown
};

struct PublishState {
  // How the outputs were made (format, compression level). Outputs made
  // another way are written again; the MD5s stay valid.
  std::string packing;
  // The list last published: MD5 of its text, the time its archive carries
  // and the size of what is served. Empty md5 when there is none.
  std::string listMd5;
  int64_t listStamp = 0;
  uint64_t listOutputSize = 0;
  std::string listSha256;  // of the served list; empty when unknown
  std::map<std::string, StateEntry> entries;  // by list name
};

constexpr char kStateFile[] = ".publish-state";

std::string serialiseState(const PublishState& state);

// Parses the text of a state file. A damaged file gives false (and an empty
// state): the caller then publishes everything anew.
bool parseState(const std::string& text, PublishState* state);

}  // namespace publish
