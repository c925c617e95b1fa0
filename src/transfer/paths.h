// The program directory prefix and the path helpers of the installation code.
#pragma once

#include <string>

#include "base/path_rules.h"

namespace tvl {


// Prefix of every path in the program directory: empty until the Updater is
// constructed, ".\" afterwards (relative to the working directory, which
// start-up makes the program directory).
extern std::string& baseDir;

// Sets baseDir to ".\".
void initBaseDir();

// baseDir + "data\" + normalizeRelativePath(name).
std::string dataPath(const std::string& name);

// Creates the directories named by the prefixes of path up to its last
// separator ("/" or "\"), top down, ignoring each result. Stops at an empty
// component (two separators in a row); the file name is never created.
void createParentDirectories(const std::string& path);

}  // namespace tvl
