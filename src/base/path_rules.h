// Rules for names that come from outside (file lists, archives, release
// folders): pure text, shared by the launcher and the publisher.
#pragma once

#include <string>

namespace tvl {

// The launcher's record of the files it has verified, in the staging folder
// data/update/ (written through a temporary name + ".tmp"). Never served.
constexpr char kVerifiedIndexName[] = "verified.txt";

// A-Z lower-cased, "/" turned into "\", one leading "\" dropped.
std::string normalizeRelativePath(const std::string& path);

// True when path is relative and stays below the directory it is relative
// to: no drive or leading separator, no ":" (a drive or a Windows stream
// name), no NUL byte, no step that climbs above the start once "." and ".." are resolved,
// and no component of dots and blanks only (Windows trims those to "..").
// Names from the server's file lists must pass this before anything is
// written under them.
bool isSafeRelativePath(const std::string& path);

// An archive member's name made relative: drops drive prefixes, leading
// separators and everything up to the last embedded parent-directory step
// ("\..\", "\../", "/../", "/..\").
std::string sanitiseItemName(const std::string& name);

}  // namespace tvl
