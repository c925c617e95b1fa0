// On POSIX desktops the scheme is registered the freedesktop.org way: a
// desktop entry that handles x-scheme-handler/tervalis3d, made the scheme's
// default in mimeapps.list. The four Windows registry entries map onto it:
// the scheme key with its "URL Protocol" marker becomes the MimeType line,
// the verb "TervalisOnline2D" the entry's Name, and the command its Exec line
// (the desktop's %u stands where Windows has %1).
#pragma once

#include <string>

namespace tvl {


extern const char kDesktopFileName[];  // "tervalis3d-launcher.desktop"
extern const char kSchemeMimeType[];   // "x-scheme-handler/tervalis3d"

// One argument of an Exec line, quoted and escaped as the desktop entry
// format asks (literal % doubled, reserved characters quoted).
std::string desktopExecArgument(const std::string& argument);

// The whole desktop entry for a launcher at launcherPath.
std::string desktopEntryText(const std::string& launcherPath);

// mimeappsText with mimeType's default set to desktopFile in the section
// [Default Applications]; every other line is kept as it was.
std::string withDefaultHandler(const std::string& mimeappsText, const std::string& mimeType,
                               const std::string& desktopFile);

// Where the entry and mimeapps.list go: $XDG_DATA_HOME/applications and
// $XDG_CONFIG_HOME, falling back to ~/.local/share and ~/.config. False when
// neither the variables nor HOME say.
struct XdgDirs {
  std::string applications;
  std::string config;
};
bool xdgDirsFromEnvironment(XdgDirs* dirs);

// Writes the entry and the default. Files are replaced whole (written to a
// temporary name, then renamed) and left alone when already up to date.
// Returns false when something could not be written.
bool registerUrlProtocolAt(const std::string& launcherPath, const XdgDirs& dirs);

}  // namespace tvl
