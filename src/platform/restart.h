// What the launcher needs to start its renewed executable in its own place,
// and to know afterwards that it was so started.
//
// The mark travels in the environment, not on the command line, which the
// restarted launcher must receive unchanged (it passes it on to the game).
#pragma once

#include <string>

namespace platform {

// The launcher's own file name in its program directory, which its
// self-replacement renames: "TervalisOnline2D.exe" on Windows; on POSIX the
// running executable's own name (the build's "TervalisOnline2D" unless the
// user renamed it).
std::string launcherFileName();

// Starts program with this process's own command line, unchanged (Windows:
// the one string of GetCommandLineA; POSIX: the same arguments), inheriting
// handles, environment and working directory. Does not wait.
bool startWithOwnCommandLine(const std::string& program);

// Lets the renewed launcher run: an unpacked file carries no execute
// permission on POSIX. Nothing to do on Windows.
void makeExecutable(const std::string& path);

// Marks the environment that children inherit: "started by a launcher that
// has just replaced itself".
void setRestartMark();

// True when this process carries the mark; removes it, so that nothing
// started from here (the game) inherits it.
bool takeRestartMark();

}  // namespace platform
