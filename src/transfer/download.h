// Fetching one file over HTTP into the staging file, then installing it: a
// plain file is moved into place, a packed one is unpacked. Runs on the
// update worker thread.
//
// A transfer that does not deliver the whole, announced body of a 200
// response is a failed transfer: the staging file is deleted, nothing
// installed is touched, and the user is told (the two file lists: the
// question whether to play without the update; any other file: an error box
// naming the code and the object path, then exit code -1). downloadFile
// therefore returns only after a complete transfer, once installation has
// been attempted.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/settings.h"
#include "transfer/http.h"

struct Updater;

extern const char kDownloadAgent[];           // "TervalisOnline2D"
extern const char kDownloadErrorCaption[];    // "Error downloading file"
extern const char kPlayWithoutUpdateText[];   // the Yes/No question, Windows-1251
extern const char kProgressBugCaption[];      // "BUG in Progress bar"
extern const char kLauncherExecutable[];      // "TervalisOnline2D.exe"
extern const char kNewLauncherExecutable[];   // "TervalisOnline2D.exe.new"

void downloadFile(Updater& updater, const ServerLocation& source, const std::string& fileName, int32_t expectedSize,
                  bool isArchive, const std::string& destDir);

// The same through another transport (tests).
void downloadFile(HttpClient& client, Updater& updater, const ServerLocation& source, const std::string& fileName,
                  int32_t expectedSize, bool isArchive, const std::string& destDir);

// ---- The steps of downloadFile, for tests.

// The request for source.path + fileName, with the Updater's SOCKS settings.
HttpRequest buildDownloadRequest(const Updater& updater, const ServerLocation& source, const std::string& fileName);

struct FetchResult {
  bool complete = false;
  uint32_t code = 0;  // what the error box names when !complete
};

// Receives the response into updater.tempFile (opened with up to 11 attempts
// 200 ms apart), counting progress. Accepts only status 200 with a
// Content-Length and exactly that many body bytes; anything else deletes the
// staging file and reports the code: the platform's error, the HTTP status,
// kHttpErrorHeaderNotFound (no Content-Length), kHttpErrorConnectionAborted
// (body ended early), kHttpErrorInvalidResponse (more bytes than announced,
// after the "BUG in Progress bar" box), or the C library's errno when the
// staging file cannot be opened or written.
FetchResult fetchToTempFile(HttpClient& client, Updater& updater, const HttpRequest& request);

// Installs the complete staging file for fileName below destDir.
void installFetchedFile(Updater& updater, const std::string& fileName, bool isArchive, const std::string& destDir);

// "files.txt" or "clan_icons_list.txt", ASCII letters in any case.
bool isListFile(const std::string& name);

// "Error downloading file: <code>\nFile: <objectPath>".
std::string downloadErrorText(uint32_t code, const std::string& objectPath);

// Tells the user and ends the process (or, for a list the user wants to play
// without, starts the game).
[[noreturn]] void failDownload(Updater& updater, uint32_t code, const std::string& objectPath);
