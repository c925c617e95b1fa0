// Text rules of the launcher's command line. The command line is one string
// (program path included) that is searched for switches as plain text, ASCII
// letters compared without regard to case, and passed on with switches
// appended; it is never split into arguments.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/settings.h"

constexpr size_t npos = static_cast<size_t>(-1);

// Index of the first occurrence of needle in text at or after start, or npos.
// Only A-Z are folded; bytes above 127 compare as they are.
size_t findNoCase(const std::string& text, const std::string& needle, size_t start);

// Decimal text of a signed 32-bit value.
std::string intToString(int32_t value);

// The launcher's command line extended with the game's connection switches.
std::string buildGameCommandLine(const std::string& commandLine, const GameSettings& game);

// True when start-up takes the update road: none of "/disableupdate",
// "/noserver", "/editor" occurs and the update host is set.
bool shouldUpdate(const std::string& commandLine, const ConnectionSettings& settings);
