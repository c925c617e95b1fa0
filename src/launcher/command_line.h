// Text rules of the launcher's command line. The command line is one string
// (program path included) that is searched for switches as plain text, ASCII
// letters compared without regard to case, and passed on with switches
// appended; it is never split into arguments.
#pragma once

#include <string>

#include "base/connection.h"
#include "base/text.h"

// The launcher's command line extended with the game's connection switches.
std::string buildGameCommandLine(const std::string& commandLine, const GameSettings& game);

// True when start-up takes the update road: none of "/disableupdate",
// "/noserver", "/editor" occurs and the update host is set.
bool shouldUpdate(const std::string& commandLine, const ConnectionSettings& settings);
