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
