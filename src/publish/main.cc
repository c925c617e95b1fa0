// tervalis-publish: see kUsage in options.cc.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/fs.h"
#include "platform/process.h"
#include "publish/list_format.h"
#include "publish/options.h"
#include "publish/publisher.h"
#include "publish/signing.h"

namespace {

using publish::Change;

double mib(uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

// Prints progress on stderr while the publisher works: a line rewritten in
// place on a terminal, an occasional line otherwise (logs of long runs).
class Reporter {
 public:
  explicit Reporter(const publish::Progress& p) : p_(p), tty_(platform::stderrIsTerminal()) {
    thread_ = std::thread([this] { loop(); });
  }
  ~Reporter() {
    {
      std::lock_guard<std::mutex> lock(m_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
    if (printed_ && tty_) std::fputc('\n', stderr);
  }

 private:
  void loop() {
    auto start = std::chrono::steady_clock::now();
    auto interval = tty_ ? std::chrono::milliseconds(200) : std::chrono::milliseconds(5000);
    std::unique_lock<std::mutex> lock(m_);
    while (!cv_.wait_for(lock, interval, [this] { return done_; })) {
      // Runs under a second stay quiet.
      if (std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) continue;
      uint64_t total = p_.filesTotal.load();
      if (total == 0) continue;
      std::fprintf(stderr, "%spublish: %llu/%llu files, %.1f/%.1f MiB%s", tty_ ? "\r" : "",
                   static_cast<unsigned long long>(p_.filesDone.load()), static_cast<unsigned long long>(total),
                   mib(p_.bytesDone.load()), mib(p_.bytesTotal.load()), tty_ ? "\033[K" : "\n");
      std::fflush(stderr);
      printed_ = true;
    }
  }

  const publish::Progress& p_;
  bool tty_;
  bool printed_ = false;
  bool done_ = false;
  std::mutex m_;
  std::condition_variable cv_;
  std::thread thread_;
};

// Control bytes in a name would garble the terminal; show them escaped.
std::string printable(const std::string& name) {
  std::string out;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (u < 0x20 || u == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

const char* tag(Change c) {
  switch (c) {
    case Change::Added: return "added";
    case Change::Changed: return "changed";
    case Change::Removed: return "removed";
    default: return "unchanged";
  }
}

void printTree(const publish::TreeReport& r, bool dryRun, bool verbose) {
  for (const auto& [name, change] : r.files)
    if (change != Change::Unchanged || verbose) std::printf("%-9s %s\n", tag(change), printable(name).c_str());
  std::printf("%s%s: %llu added, %llu changed, %llu removed, %llu unchanged; %s %s (%llu files, %.1f MiB)\n",
              dryRun ? "dry run: " : "", r.outputDir.c_str(), static_cast<unsigned long long>(r.count(Change::Added)),
              static_cast<unsigned long long>(r.count(Change::Changed)),
              static_cast<unsigned long long>(r.count(Change::Removed)),
              static_cast<unsigned long long>(r.count(Change::Unchanged)), r.listName.c_str(),
              r.listChanged ? (dryRun ? "would be rewritten" : "rewritten") : "unchanged",
              static_cast<unsigned long long>(r.fileCount), mib(r.byteCount));
  if (r.largeCount > 0 || r.largeListChanged)
    std::printf("%s%llu files over 2 GiB in files-large.txt, %s\n", dryRun ? "dry run: " : "",
                static_cast<unsigned long long>(r.largeCount),
                !r.largeListChanged ? "unchanged"
                : r.largeCount == 0 ? (dryRun ? "would be removed" : "removed")
                                    : (dryRun ? "would be rewritten" : "rewritten"));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  publish::CommandLine cl;
  std::string error;
  if (!publish::parseCommandLine(args, std::thread::hardware_concurrency(), &cl, &error)) {
    std::fprintf(stderr, "tervalis-publish: %s\n\n%s", error.c_str(), publish::kUsage);
    return 2;
  }
  if (cl.help) {
    std::fputs(publish::kUsage, stdout);
    return 0;
  }
  if (!cl.keygenPath.empty()) {
    std::string publicKey;
    if (!publish::makeSigningKey(cl.keygenPath, &publicKey, &error)) {
      std::fprintf(stderr, "tervalis-publish: error: %s\n", error.c_str());
      return 1;
    }
    std::fprintf(stderr,
                 "tervalis-publish: secret key written to %s; keep it offline. Its public key (build the launcher "
                 "with -DTVL_RELEASE_PUBLIC_KEY=...):\n",
                 cl.keygenPath.c_str());
    std::printf("%s\n", publicKey.c_str());
    return 0;
  }
  publish::Progress progress;
  publish::PublishReport report;
  publish::Refusal refusal;
  bool ok;
  {
    std::unique_ptr<Reporter> reporter;
    if (!cl.quiet) reporter.reset(new Reporter(progress));
    ok = publish::publish(cl.publish, &report, &progress, &error, &refusal);
  }
  for (const std::string& note : report.notes) std::fprintf(stderr, "tervalis-publish: note: %s\n", note.c_str());
  if (!ok) {
    std::fprintf(stderr, "tervalis-publish: error: %s%s\n", error.c_str(), refusal.problems.empty() ? "" : ":");
    for (const auto& p : refusal.problems) std::fprintf(stderr, "  %s: %s\n", printable(p.name).c_str(), p.reason.c_str());
    if (!refusal.problems.empty()) std::fprintf(stderr, "tervalis-publish: nothing was written\n");
    return 1;
  }
  printTree(report.game, cl.publish.dryRun, cl.verbose);
  const publish::PatchReport& pr = report.patches;
  if (pr.active && !cl.publish.dryRun)
    std::printf("patches: %llu listed (%llu made now, %.1f MiB in all), %llu left out as not clearly smaller than "
                "the archive; patch lists %s\n",
                static_cast<unsigned long long>(pr.listed), static_cast<unsigned long long>(pr.made), mib(pr.bytes),
                static_cast<unsigned long long>(pr.tooLarge),
                !pr.listChanged ? "unchanged" : pr.listed ? "rewritten" : "removed");
  if (report.hasIcons) printTree(report.icons, cl.publish.dryRun, cl.verbose);
  // Objects never change their bytes; only what launchers without a key
  // fetch by name can be stale in a cache.
  for (const publish::TreeReport* tree : {&report.game, &report.icons})
    for (const std::string& name : tree->purge)
      std::printf("purge     %s\n", printable(platform::joinPath(tree->outputDir, name)).c_str());
  if (report.signedRelease && !cl.publish.dryRun)
    std::printf("objects: %llu written (%llu as hard links), %llu removed\n",
                static_cast<unsigned long long>(report.objectsWritten),
                static_cast<unsigned long long>(report.objectsLinked),
                static_cast<unsigned long long>(report.objectsRemoved));
  if (report.signedRelease)
    std::printf("%s%s %s: release %llu, expires %s\n", cl.publish.dryRun ? "dry run: " : "", publish::kManifestName,
                cl.publish.dryRun ? "would be signed" : "signed", static_cast<unsigned long long>(report.release),
                publish::formatUtc(report.expires).c_str());
  return 0;
}
