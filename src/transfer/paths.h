// The program directory prefix and the path helpers of the installation code.
#pragma once

#include <string>

// Prefix of every path in the program directory: empty until the Updater is
// constructed, ".\" afterwards (relative to the working directory, which
// start-up makes the program directory).
extern std::string baseDir;

// Sets baseDir to ".\".
void initBaseDir();

// A-Z lower-cased, "/" turned into "\", one leading "\" dropped.
std::string normalizeRelativePath(const std::string& path);

// baseDir + "data\" + normalizeRelativePath(name).
std::string dataPath(const std::string& name);

// Creates the directories named by the prefixes of path up to its last
// separator ("/" or "\"), top down, ignoring each result. Stops at an empty
// component (two separators in a row); the file name is never created.
void createParentDirectories(const std::string& path);

// True when path is relative and stays below the directory it is relative
// to: no drive or leading separator, no ":" (a drive or a Windows stream
// name), no NUL byte, no step that climbs above the start once "." and ".." are resolved,
// and no component of dots and blanks only (Windows trims those to "..").
// Names from the server's file lists must pass this before anything is
// written under them.
bool isSafeRelativePath(const std::string& path);
