// Starting the game (or the renewed launcher) and ending this process.
#pragma once

#include <string>

#include "base/connection.h"

namespace tvl {


extern const char kGameExecutable[];  // "TervalisOnline2D.bin"

// Starts program with commandLine as its whole command line and ends this
// process at once with exit code 0. Returns only when the program is missing
// or could not be started. A path without a directory part is looked up in
// the working directory (".\" is put before it).
void runAndExit(const std::string& program, const std::string& commandLine);

// Starts the game with this process's command line plus the connection
// switches of game, then ends the process with exit code 0, whether or not
// the game could be started.
[[noreturn]] void launchGame(const GameSettings& game);

// Starts the renewed launcher, launcherName in the program directory, with
// this process's command line, marked as a restart, and ends this process
// (exit code 0).
[[noreturn]] void restartSelf(const std::string& launcherName);

}  // namespace tvl
