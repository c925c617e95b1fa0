// Connection settings: the nine strings of section "Connection" of
// TervalisOnline2D.ini. Read once at start-up on the main thread, read-only
// afterwards, so other threads read them without a lock.
#pragma once

#include <string>

#include "base/connection.h"

// Never destroyed: the worker may still read it while the main thread ends
// the process through the orderly exit.
extern ConnectionSettings& connectionSettings;

extern const char kSettingsFile[];     // "./TervalisOnline2D.ini"
extern const char kSettingsSection[];  // "Connection"

// Fills connectionSettings from kSettingsFile; missing keys get defaults.
void loadConnectionSettings();

// One value through the platform's profile-string reader (buffer of 32767
// characters, so values are cut to 32766).
std::string readSetting(const std::string& section, const std::string& key, const std::string& defaultValue,
                        const std::string& fileName);
