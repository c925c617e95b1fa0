// The one update object shared by the splash window and the update worker.
//
// Thread safety: the worker writes currentFile, bytesDone and bytesTotal and
// the window thread reads them when it paints. Both sides go through the
// methods below, which hold progressLock, so a paint always sees one
// consistent snapshot. Every other field is fixed after construction or
// touched by the worker alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "launcher/settings.h"
#include "update/file_list.h"

using WindowHandle = void*;  // HWND on Windows; unused elsewhere
using ModuleHandle = void*;  // HINSTANCE on Windows
using CryptProvider = uintptr_t;  // HCRYPTPROV on Windows

struct ProgressSnapshot {
  std::string currentFile;
  int32_t bytesDone = 0;
  int32_t bytesTotal = 0;
};

struct Updater {
  // Fixes baseDir, creates the staging directory data\update\ and removes
  // what an earlier run left: update.tmp, TervalisOnline2D.exe.new and .old.
  Updater(WindowHandle window, ModuleHandle instance);

  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  WindowHandle window;
  ModuleHandle instance;
  const GameSettings& gameSettings;
  const ServerLocation& updateSource;
  const ServerLocation& iconsSource;

  // Progress, guarded by progressLock: write through the setters.
  std::string currentFile;
  int32_t currentFileSize = 0;
  std::string tempFile;
  int32_t bytesDone = 0;
  int32_t bytesTotal = 0;

  CryptProvider cryptProvider = 0;
  std::vector<FileListEntry> entries;

  void setCurrentFile(const std::string& name);
  // Adds to bytesDone (saturating) when bytesTotal is not 0.
  void addBytesDone(int32_t count);
  void setBytesTotal(int32_t total);
  // Clears notifyPending before it reads: whatever changes afterwards is
  // announced again.
  ProgressSnapshot progress() const;

  // Set while a progress notification is on its way to the display and the
  // display has not read the progress since; a notifier may skip posting
  // another meanwhile (the display will read the newest values anyway).
  mutable std::atomic<bool> notifyPending{false};

 private:
  mutable std::mutex progressLock;
};

// The one Updater, created by the splash window (or the headless runner)
// before the worker starts; never destroyed.
extern Updater* theUpdater;
