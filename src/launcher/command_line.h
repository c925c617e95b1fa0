// Text rules of the launcher's command line. The command line is one string
// (program path included) that is searched for switches as plain text, ASCII
// letters compared without regard to case, and passed on with switches
// appended; it is never split into arguments.
#pragma once

#include <string>

#include "base/connection.h"
#include "base/text.h"

namespace tvl {


// A link of the URL scheme arrives as "/externlogin=<link>", always last on
// the command line. Anyone can write a link, so its text must never steer the
// launcher: the command line is cut at the first "/externlogin=" (any letter
// case) and only the text before it is searched for switches. Whatever
// follows is the link, even a user's own switches typed after it.
struct LinkSplit {
  std::string head;  // searched for switches
  // The switch as written, then the link percent-encoded by encodeLink; empty
  // when the command line holds no link.
  std::string link;
};

// The link's argument may come in double quotes as a whole (the POSIX build
// quotes arguments with blanks when it rebuilds its command line, and a user
// may type them): the opening quote, a closing one at the very end, and
// backslash-quote inside are then read as quoting and dropped.
LinkSplit splitAtLink(const std::string& commandLine);

// Blanks, double quotes and control characters as %XX, so that the link stays
// one argument for the game and cannot take in the switches appended after
// it. Everything else, '%' included, is kept as it is.
std::string encodeLink(const std::string& link);

// The launcher's command line extended with the game's connection switches.
// The switch tests see the head and the switches appended so far, never the
// link; the link keeps its place, encoded, before the appended switches.
std::string buildGameCommandLine(const std::string& commandLine, const GameSettings& game);

// True when start-up takes the update road: none of "/disableupdate",
// "/noserver", "/editor" occurs before the link and the update host is set.
bool shouldUpdate(const std::string& commandLine, const ConnectionSettings& settings);

}  // namespace tvl
