// Connection settings: the nine strings of section "Connection" of
// TervalisOnline2D.ini. Read once at start-up on the main thread, read-only
// afterwards, so other threads read them without a lock.
#pragma once

#include <string>

#include "base/connection.h"

namespace tvl {


// Never destroyed: the worker may still read it while the main thread ends
// the process through the orderly exit.
extern ConnectionSettings& connectionSettings;

extern const char kSettingsFile[];     // "./TervalisOnline2D.ini"
extern const char kSettingsSection[];  // "Connection"

// Fills connectionSettings from kSettingsFile; missing keys get defaults.
void loadConnectionSettings();

// "download_connections" (1 to 16, default 1), "download_retries" (0 to
// 10, default 2), "check_index" (0 or 1, default 0) and "full_check_days"
// (1 to 365, default 7) from kSettingsFile; a value that is not a number in
// range gives the default.
UpdateOptions loadUpdateOptions();

// A setting's text as a whole decimal number within [low, high]; fallback
// otherwise.
int settingNumber(const std::string& text, int low, int high, int fallback);

// One value through the platform's profile-string reader (buffer of 32767
// characters, so values are cut to 32766).
std::string readSetting(const std::string& section, const std::string& key, const std::string& defaultValue,
                        const std::string& fileName);

}  // namespace tvl
