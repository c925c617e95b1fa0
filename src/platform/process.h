// Processes and the few file-system facts start-up needs.
//
// The launcher treats its command line as one string, never as argv: it is
// searched for switches as plain text and handed on to the next program
// unchanged. The POSIX backend rebuilds such a string from argv.
#pragma once

#include <string>

namespace platform {

// The whole command line of this process, program path included.
std::string commandLine();

// Full path of the running executable; empty if it cannot be read.
std::string modulePath();

// Separator that ends a directory in modulePath().
char pathSeparator();

bool setCurrentDirectory(const std::string& dir);
std::string currentDirectory();

// True when something (file or directory) exists at path.
bool pathExists(const std::string& path);

// Starts program with commandLine as its whole command line, inheriting
// handles, environment and working directory. Does not wait.
bool startProcess(const std::string& program, const std::string& commandLine);

// Whether standard error is a terminal, where progress can be redrawn in
// place.
bool stderrIsTerminal();

// Ends the process at once: no exit handlers, no static destructors.
[[noreturn]] void exitNow(int code);

// Ends the process with the C streams flushed. POSIX: through exit handlers
// and static destructors. Windows: without unloading the libraries, which
// can wait for ever on a lock another thread held.
[[noreturn]] void exitNormally(int code);

}  // namespace platform
