// The newest release this installation has accepted, kept as a small file in
// the launcher's staging directory (data\update\, which no update removes):
// the decimal number and LF. A manifest older than it is a rollback.
#pragma once

#include <cstdint>
#include <string>

namespace release {

// Name of the file in the staging directory.
constexpr char kAcceptedReleaseName[] = "release.txt";

struct AcceptedRelease {
  // Unreadable: the file is there but could not be read (another process
  // holds it, access refused, a read error); it may read fine a moment later.
  enum class State { Missing, Ok, Damaged, Unreadable };
  State state = State::Missing;
  uint64_t number = 0;  // 0 unless Ok
};

// Missing only when there is no file; Damaged for contents that are not a
// number the writer wrote.
AcceptedRelease readAcceptedRelease(const std::string& path);

// Writes path + ".tmp", then renames it over path, so that a reader finds
// the old number or the new one. False with a message.
bool writeAcceptedRelease(const std::string& path, uint64_t number, std::string* error);

}  // namespace release
