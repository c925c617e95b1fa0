// Fetching the entries a run needs, up to `connections` transfers at once,
// each into its own staging file, installed strictly in list order by the
// calling thread. One connection is the plain road: one file after another
// through the run's staging file.
//
// A failure is reported for the first failing entry in list order, with
// every entry before it installed and none after it: the end state of
// fetching one at a time.
#pragma once

#include <cstddef>
#include <functional>

#include "transfer/download.h"
#include "update/patching.h"
#include "update/release_check.h"
#include "update/updater.h"

namespace tvl {


struct FetchFailure {
  const FileListEntry* entry = nullptr;
  FetchResult result;
};

// Fetches and installs every entry of updater.entries that needs it. False,
// with *failure set, when one could not be fetched.
// Entries that patches planned are patched in their turn by the installing
// thread (falling back to the whole file); patches may be null. With a signed
// release every body is held to it, and a name it lacks is refused unfetched.
bool fetchEntries(Updater& updater, HttpClient& client, int connections, PatchRun* patches,
                  const SignedRelease* release, FetchFailure* failure);

// How far fetchers may run ahead of the installer, in entries: staged files
// wait on disk until their turn comes.
size_t fetchWindow(int connections);

// Lets a test order the threads of a concurrent fetch: fetcherStarts runs
// on each fetcher before it takes its first entry, installerWaits on the
// installing thread, holding the queue's lock, just before it waits for
// entry i. Both empty in the product.
struct FetchQueueHooks {
  std::function<void()> fetcherStarts;
  std::function<void(size_t i)> installerWaits;
};
extern FetchQueueHooks fetchQueueHooksForTesting;

}  // namespace tvl
