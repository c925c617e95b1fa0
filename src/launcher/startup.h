// Start-up pieces shared by the Windows and POSIX entry points.
#pragma once

#include <string>

namespace tvl {


// The directory part of the executable's path, separator included, or ""
// when the path has no separator.
std::string installDirOf(const std::string& modulePath, char separator);

// Makes the launcher's own directory the working directory. A directory the
// system refuses only because its path is too long ends the launcher with a
// message instead of letting every relative path point somewhere else.
void enterInstallDir();

extern const char kPathTooLongCaption[];
std::string pathTooLongText(size_t length);

}  // namespace tvl
