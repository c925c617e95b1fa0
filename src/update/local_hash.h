// The local MD5 check: is the file an entry names missing or different from
// what the list describes? Digests are the file's MD5 as 32 upper-case
// hexadecimal digits.
//
// Thread safety: only the update worker hashes; the functions keep no state
// of their own, the provider lives in the Updater.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/updater.h"
#include "update/file_list.h"

namespace tvl {


// Opens the digest provider updater.cryptProvider (on Windows the CryptoAPI
// key container "UpdatePacker", created on first use). False when it cannot
// be opened.
bool acquireCryptProvider(Updater& updater);

// Releases updater.cryptProvider when it is held.
void releaseCryptProvider(Updater& updater);

// The digest text of [data, data + size), or "" when the provider fails.
std::string md5Hex(Updater& updater, const uint8_t* data, size_t size);

// True when the entry's file (baseDir + directory + name) must be fetched:
// it is missing, empty, or its digest differs from the list's (any size).
// A file that exists but cannot be opened exclusively or mapped
// (another process holds it, a directory stands there) is left alone, and so
// is an entry whose directory + name leads outside the program directory.
// The launcher's own executable (directory + name equal to
// updater.launcherName, any letter case) is opened shared with other
// readers instead.
// Sets entry.localDigest when a digest was computed.
bool checkLocalFile(Updater& updater, FileListEntry& entry);

// Tests only: while set, acquireCryptProvider fails as if the system had
// refused the provider.
void failCryptProviderForTesting(bool fail);

}  // namespace tvl
