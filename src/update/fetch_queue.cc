#include "update/fetch_queue.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "platform/fs.h"
#include "platform/tree.h"
#include "transfer/resilient_fetch.h"
#include "transfer/resume.h"

namespace tvl {


namespace {

FetchResult fetchOne(Updater& updater, const SignedRelease* release, DownloadSession& session,
                     const FileListEntry& entry) {
  return fetchChecked(updater, release, session, *entry.source, entry.name,
                      FetchTarget{entry.digest, entry.size, entry.packed});
}

bool isDigestText(const std::string& s) {
  if (s.size() != 32) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

// Large files are staged under a name of their own, so that a partial can
// wait for the next run; the rest share the run's staging file (or a slot's).
std::string stagingPathFor(const Updater& updater, const FileListEntry& entry, const std::string& shared,
                           std::vector<std::string>* taken) {
  if (updater.options.retries <= 0 || entry.size < kKeepPartialBytes || !isDigestText(entry.digest)) return shared;
  std::string dir = updater.tempFile.substr(0, updater.tempFile.find_last_of("\\/") + 1);
  std::string path = dir + "part-" + entry.digest + ".tmp";
  for (const std::string& t : *taken)
    if (t == path) return shared;  // the same file listed twice
  taken->push_back(path);
  return path;
}

bool hasPrefix(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// Staging that a killed run left behind and nobody will take up: the files
// of concurrent slots, and partials of files this run does not fetch (a
// partial of one it does fetch waits for it).
void discardStaleStaging(const Updater& updater, const std::vector<const FileListEntry*>& work) {
  size_t cut = updater.tempFile.find_last_of("\\/") + 1;
  std::string dir = updater.tempFile.substr(0, cut);
  std::string slotPrefix = updater.tempFile.substr(cut) + ".";
  std::vector<std::string> keep, taken;
  for (const FileListEntry* entry : work) {
    std::string path = stagingPathFor(updater, *entry, std::string(), &taken);
    if (!path.empty()) keep.push_back(path.substr(cut));
  }
  std::vector<platform::ListedFile> files;
  std::string error;
  if (!platform::listFiles(dir, &files, &error)) return;
  for (const platform::ListedFile& f : files) {
    bool slot = hasPrefix(f.name, slotPrefix) && f.name.size() > slotPrefix.size() &&
                f.name.find_first_not_of("0123456789", slotPrefix.size()) == std::string::npos;
    bool partial = hasPrefix(f.name, "part-");
    for (const std::string& k : keep)
      if (f.name == k || f.name == k + ".resume") partial = false;
    if (slot || partial) platform::removeFile(dir + f.name);
  }
}

// Installs what entry fetched; false, with *failure set, when it did not
// fit on the disk.
bool install(DownloadSession& session, const FileListEntry* entry, FetchFailure* failure) {
  uint32_t code = installFetchedFile(session, entry->name, entry->packed, entry->directory);
  if (code == 0) return true;
  failure->entry = entry;
  failure->result = FetchResult();
  failure->result.status = Status::error(code, entry->source->path + entry->name);
  return false;
}

bool fetchInTurn(Updater& updater, HttpClient& client, const std::vector<const FileListEntry*>& work,
                 PatchRun* patches, const SignedRelease* release, FetchFailure* failure) {
  std::vector<std::string> taken;
  for (const FileListEntry* entry : work) {
    DownloadSession session = updater.session(client);
    session.tempFile = stagingPathFor(updater, *entry, updater.tempFile, &taken);
    session.progress.setCurrentFile(entry->name);
    session.progress.notify();
    if (patches && patches->install(session, *entry)) continue;  // otherwise the whole file
    FetchResult fetched = fetchOne(updater, release, session, *entry);
    if (!fetched.ok()) {
      *failure = FetchFailure{entry, fetched};
      return false;
    }
    if (!install(session, entry, failure)) return false;
  }
  return true;
}

// The shared state of one concurrent fetch.
class Queue {
 public:
  Queue(Updater& updater, HttpClient& client, const std::vector<const FileListEntry*>& work, int connections,
        PatchRun* patches, const SignedRelease* release)
      : updater_(updater),
        client_(client),
        work_(work),
        patches_(patches),
        release_(release),
        window_(fetchWindow(connections)),
        slots_(work.size()) {
    std::vector<std::string> taken;
    for (size_t i = 0; i < work.size(); ++i)
      slots_[i].tempFile = stagingPathFor(updater, *work[i], updater.tempFile + "." + std::to_string(i), &taken);
  }

  bool run(int connections, FetchFailure* failure) {
    // Named before any byte of it can arrive: the line never lags the bar.
    updater_.progress.setCurrentFile(work_.front()->name);
    std::vector<std::thread> fetchers;
    for (int i = 0; i < connections; ++i) fetchers.emplace_back([this] { fetchLoop(); });
    bool ok = installInOrder(failure);
    cancel_.store(true);
    {
      std::lock_guard<std::mutex> hold(lock_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : fetchers) t.join();
    // What was fetched beyond a failure is never installed; a large partial
    // that can be resumed stays for the next run.
    for (size_t i = 0; i < slots_.size(); ++i)
      if (slots_[i].state == State::kDone && slots_[i].result.ok()) platform::removeFile(slots_[i].tempFile);
    return ok;
  }

 private:
  enum class State { kWaiting, kFetching, kDone, kPatch };
  struct Slot {
    State state = State::kWaiting;
    std::string tempFile;
    FetchResult result;
  };

  void fetchLoop() {
    if (fetchQueueHooksForTesting.fetcherStarts) fetchQueueHooksForTesting.fetcherStarts();
    for (;;) {
      size_t k;
      {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [&] { return stop_ || (next_ < work_.size() && next_ < installed_ + window_); });
        if (stop_) return;
        k = next_++;
        // A planned patch is fetched in its turn by the installer, which
        // may be waiting for this very slot already.
        slots_[k].state = patches_ && patches_->planned(*work_[k]) ? State::kPatch : State::kFetching;
      }
      if (slots_[k].state == State::kPatch) {
        changed_.notify_all();
        continue;
      }
      DownloadSession session = updater_.session(client_);
      session.tempFile = slots_[k].tempFile;
      session.cancel = &cancel_;
      FetchResult fetched = fetchOne(updater_, release_, session, *work_[k]);
      {
        std::lock_guard<std::mutex> hold(lock_);
        slots_[k].result = fetched;
        slots_[k].state = State::kDone;
      }
      changed_.notify_all();
    }
  }

  bool installInOrder(FetchFailure* failure) {
    for (size_t i = 0; i < work_.size(); ++i) {
      // The file line names the earliest file still being fetched or
      // installed.
      updater_.progress.setCurrentFile(work_[i]->name);
      updater_.progress.notify();
      FetchResult fetched;
      {
        std::unique_lock<std::mutex> hold(lock_);
        if (fetchQueueHooksForTesting.installerWaits) fetchQueueHooksForTesting.installerWaits(i);
        changed_.wait(hold, [&] { return slots_[i].state == State::kDone || slots_[i].state == State::kPatch; });
        fetched = slots_[i].result;
      }
      DownloadSession session = updater_.session(client_);
      session.tempFile = slots_[i].tempFile;
      bool patched = false;
      if (slots_[i].state == State::kPatch) {
        patched = patches_->install(session, *work_[i]);
        if (!patched) fetched = fetchOne(updater_, release_, session, *work_[i]);  // the whole file after all
      }
      if (!fetched.ok()) {
        *failure = FetchFailure{work_[i], fetched};
        return false;
      }
      if (!patched && !install(session, work_[i], failure)) return false;
      {
        std::lock_guard<std::mutex> hold(lock_);
        installed_ = i + 1;
      }
      changed_.notify_all();
    }
    return true;
  }

  Updater& updater_;
  HttpClient& client_;
  const std::vector<const FileListEntry*>& work_;
  PatchRun* patches_;
  const SignedRelease* release_;
  const size_t window_;
  std::vector<Slot> slots_;
  std::mutex lock_;
  std::condition_variable changed_;
  size_t next_ = 0;       // the next entry a fetcher takes
  size_t installed_ = 0;  // entries installed so far
  bool stop_ = false;
  std::atomic<bool> cancel_{false};
};

}  // namespace

FetchQueueHooks fetchQueueHooksForTesting;

size_t fetchWindow(int connections) { return connections < 1 ? 1 : static_cast<size_t>(connections) * 4; }

bool fetchEntries(Updater& updater, HttpClient& client, int connections, PatchRun* patches,
                  const SignedRelease* release, FetchFailure* failure) {
  std::vector<const FileListEntry*> work;
  for (const FileListEntry& entry : updater.entries)
    if (entry.needsDownload) work.push_back(&entry);
  discardStaleStaging(updater, work);
  if (connections <= 1 || work.size() <= 1) return fetchInTurn(updater, client, work, patches, release, failure);
  // A server that multiplexes carries several transfers on each connection.
  HttpRequest sample = buildDownloadRequest(updater.gameSettings, *work.front()->source, work.front()->name);
  sample.reuseConnection = true;
  connections *= client.transfersPerConnection(sample);
  if (static_cast<size_t>(connections) > work.size()) connections = static_cast<int>(work.size());
  Queue queue(updater, client, work, connections, patches, release);
  return queue.run(connections, failure);
}

}  // namespace tvl
