// The state of one update run: where it fetches from, its progress, its
// staging file, the digest provider and the entries of both lists.
//
// Thread safety: the progress is the only part read by another thread (the
// display), through its own lock; everything else is touched by the worker
// alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/connection.h"
#include "platform/md5.h"
#include "release/keys.h"
#include "transfer/download.h"
#include "transfer/progress.h"
#include "update/file_list.h"

struct Updater {
  // Fixes baseDir, creates the staging directory data\update\ and removes
  // what an earlier run left: update.tmp, TervalisOnline2D.exe.new and .old.
  // listener, when set, is told of every change of progress.
  Updater(const ConnectionSettings& settings, ProgressListener* listener);

  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  const GameSettings& gameSettings;
  const ServerLocation& updateSource;
  const ServerLocation& iconsSource;

  Progress progress;
  std::string tempFile;

  platform::Md5Provider cryptProvider;  // held while the run checks files
  std::vector<FileListEntry> entries;

  // The publisher's keys this launcher was built with (none: releases are
  // not checked) and the clock a release's expiry is read against, in
  // seconds since 1970 UTC. Tests put their own.
  std::vector<release::PublicKey> releaseKeys;
  int64_t (*clock)() = nullptr;

  // The transfer side of the run, over client.
  DownloadSession session(HttpClient& client) { return DownloadSession{client, progress, tempFile, gameSettings}; }
};

// The one Updater, created by start-up before the worker starts; never
// destroyed.
extern Updater* theUpdater;
