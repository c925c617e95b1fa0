// The launcher refuses to run, with one of two error boxes, on a system that
// cannot run the game: Windows older than Windows 98, or no Direct3D 9.
// Runs on the main thread before anything is shown or read.
#pragma once

#include <cstdint>
#include <string>

namespace tvl {


extern const char kOldWindowsCaption[];  // "Incorrect Windows version"
extern const char kOldWindowsText[];
extern const char kNoDirectXCaption[];   // "DirectX error"
extern const char kNoDirectXText[];

// Windows 98 (4.10) and later pass; 4.0 and older fail.
bool windowsVersionAccepted(uint32_t major, uint32_t minor);

// Shows the refusal box (no owner, MB_ICONERROR) and ends the process at
// once with exit code 0, without exit handlers.
[[noreturn]] void refuseToRun(const char* text, const char* caption);

// Returns only when the system passes; the version test comes first.
void checkSystem();

// Headless stand-in for the Direct3D probe: a game that draws needs a
// display. True when the game image (its first bytes) is a Windows program,
// which runs through a Windows layer that needs one, or names a graphics or
// windowing library.
bool gameNeedsDisplay(const std::string& imageHead);

}  // namespace tvl
