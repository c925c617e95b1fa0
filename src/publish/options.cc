#include "publish/options.h"

#include <cstdlib>

#include "publish/list_format.h"
#include "release/patch_apply.h"

namespace publish {

const char kUsage[] =
    "usage: tervalis-publish [options] RELEASE_DIR OUTPUT_DIR\n"
    "       tervalis-publish keygen SECRET_FILE\n"
    "\n"
    "Writes the tree an HTTP server serves below update_path: every file of\n"
    "RELEASE_DIR as a zip archive of its own, under its own name, and\n"
    "files.txt (zipped) listing them. Runs are incremental: only files whose\n"
    "content or time changed are packed again, files that left the release\n"
    "are deleted from OUTPUT_DIR.\n"
    "\n"
    "options:\n"
    "  --icons DIR            also publish the clan icons in DIR ...\n"
    "  --icons-output DIR     ... as plain files with clan_icons_list.txt in DIR\n"
    "                         (served below icons_path)\n"
    "  --launcher FILE        publish FILE as TervalisOnline2D.exe (the new launcher)\n"
    "  --linux-launcher FILE  publish FILE as TervalisOnline2D (the new Linux launcher;\n"
    "                         both may be given, each install takes its own)\n"
    "  --include GLOB         publish only files matching GLOB (repeatable)\n"
    "  --exclude GLOB         leave files matching GLOB out (repeatable; wins over\n"
    "                         --include). A GLOB without '/' is tried on every part\n"
    "                         of a name (\"*.bak\", \"logs\"); one with '/' on the whole\n"
    "                         name from the top (\"tools/**\"). '*' and '?' stay\n"
    "                         within a directory, '**' spans directories.\n"
    "  --previous DIR         an earlier release folder (repeatable, newest first):\n"
    "                         files of 1 MiB or more that changed get a binary\n"
    "                         patch from each of their 3 newest earlier versions,\n"
    "                         kept when under half their archive's size, served\n"
    "                         below patches/ and listed in patches.txt (zipped).\n"
    "                         Without it no patches are served.\n"
  "  --release LABEL        second field of every list line (default \"1\")\n"
    "  --date DATE            time for the lists and archives instead of each file's\n"
    "                         modification time: YYYY-MM-DD[THH:MM:SS] (UTC) or\n"
    "                         @SECONDS. Makes the output depend on content only.\n"
    "  --level N              deflate level 1-9, 0 stores everything (default 6)\n"
    "  -j, --jobs N           files packed in parallel (default: number of CPUs)\n"
    "  -n, --dry-run          show what would change; write nothing\n"
    "  --rehash               hash every file, also those whose size and time match\n"
    "                         the last run\n"
    "  --force                write every archive again\n"
    "  --sign-key FILE        sign the release: write release.sig beside files.txt,\n"
    "                         last, naming every served file with its size and\n"
    "                         SHA-256, signed with the secret key in FILE\n"
    "  --expires DAYS         launchers refuse the signed release after DAYS days\n"
    "                         (default 30): publish again before then\n"
    "  --keep-releases N      signed: keep the objects of the last N releases\n"
    "                         (default 3, 1-1000) for launchers still on them\n"
    "  -q, --quiet            no progress on stderr\n"
    "  -v, --verbose          also list unchanged files\n"
    "  -h, --help             this text\n"
    "\n"
    "keygen writes a new Ed25519 secret key to SECRET_FILE (readable by its owner\n"
    "only; an existing file is never replaced) and prints its public key, the\n"
    "value of the launcher's build option TVL_RELEASE_PUBLIC_KEY. Keep the\n"
    "secret key offline (see docs/serving.md).\n"
    "\n"
    "Exit status: 0 done, 1 failed (nothing half-written is served), 2 bad usage.\n";

namespace {

bool parseNumber(const std::string& text, long lo, long hi, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

}  // namespace

bool parseCommandLine(const std::vector<std::string>& args, unsigned defaultJobs, CommandLine* out,
                      std::string* error) {
  *out = CommandLine();
  out->publish.jobs = defaultJobs > 0 ? defaultJobs : 1;
  // A release folder named "keygen" is given as ./keygen.
  if (!args.empty() && args[0] == "keygen") {
    if (args.size() == 2 && args[1] == "--help") {
      out->help = true;
      return true;
    }
    if (args.size() != 2 || args[1].empty() || args[1][0] == '-') {
      *error = "keygen takes one argument, the file to write the secret key to";
      return false;
    }
    out->keygenPath = args[1];
    return true;
  }
  bool expiresGiven = false;
  bool keepGiven = false;
  std::vector<std::string> positional;
  bool optionsEnd = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (optionsEnd || arg.empty() || arg[0] != '-' || arg == "-") {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnd = true;
      continue;
    }
    std::string value;
    bool inlineValue = false;
    size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.erase(eq);
      inlineValue = true;
    } else if (arg.size() > 2 && arg.compare(0, 2, "-j") == 0) {  // -j2, as make takes it
      value = arg.substr(2);
      arg = "-j";
      inlineValue = true;
    }
    auto takeValue = [&]() {
      if (inlineValue) return true;
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    auto noValue = [&]() {
      if (inlineValue) *error = arg + " takes no value";
      return !inlineValue;
    };
    PublishOptions& p = out->publish;
    long n;
    if (arg == "-h" || arg == "--help") {
      out->help = true;
      return true;
    } else if (arg == "-n" || arg == "--dry-run") {
      if (!noValue()) return false;
      p.dryRun = true;
    } else if (arg == "-q" || arg == "--quiet") {
      if (!noValue()) return false;
      out->quiet = true;
    } else if (arg == "-v" || arg == "--verbose") {
      if (!noValue()) return false;
      out->verbose = true;
    } else if (arg == "--rehash") {
      if (!noValue()) return false;
      p.rehash = true;
    } else if (arg == "--force") {
      if (!noValue()) return false;
      p.force = true;
    } else if (arg == "--icons") {
      if (!takeValue()) return false;
      p.iconsDir = value;
    } else if (arg == "--icons-output") {
      if (!takeValue()) return false;
      p.iconsOutputDir = value;
    } else if (arg == "--launcher") {
      if (!takeValue()) return false;
      p.launcherPath = value;
    } else if (arg == "--linux-launcher") {
      if (!takeValue()) return false;
      p.linuxLauncherPath = value;
    } else if (arg == "--include") {
      if (!takeValue()) return false;
      p.filter.include(value);
    } else if (arg == "--exclude") {
      if (!takeValue()) return false;
      p.filter.exclude(value);
    } else if (arg == "--previous") {
      if (!takeValue()) return false;
      if (value.empty()) {
        *error = "--previous needs a folder";
        return false;
      }
      p.previousDirs.push_back(value);
    } else if (arg == "--release") {
      if (!takeValue()) return false;
      std::string problem = releaseLabelProblem(value);
      if (!problem.empty()) {
        *error = "--release: " + problem;
        return false;
      }
      p.releaseLabel = value;
    } else if (arg == "--date") {
      if (!takeValue()) return false;
      if (!parseUtc(value, &p.stamp)) {
        *error = "--date: '" + value + "' is not YYYY-MM-DD, YYYY-MM-DDTHH:MM:SS or @SECONDS";
        return false;
      }
      p.fixedStamp = true;
    } else if (arg == "--level") {
      if (!takeValue()) return false;
      if (!parseNumber(value, 0, 9, &n)) {
        *error = "--level: '" + value + "' is not a number from 0 to 9";
        return false;
      }
      p.level = static_cast<int>(n);
    } else if (arg == "--sign-key") {
      if (!takeValue()) return false;
      if (value.empty()) {
        *error = "--sign-key needs a file";
        return false;
      }
      p.signKeyPath = value;
    } else if (arg == "--expires") {
      if (!takeValue()) return false;
      if (!parseNumber(value, 1, 3650, &n)) {
        *error = "--expires: '" + value + "' is not a number of days from 1 to 3650";
        return false;
      }
      p.expiresDays = static_cast<int>(n);
      expiresGiven = true;
    } else if (arg == "--keep-releases") {
      if (!takeValue()) return false;
      if (!parseNumber(value, 1, 1000, &n)) {
        *error = "--keep-releases: '" + value + "' is not a number from 1 to 1000";
        return false;
      }
      p.keepReleases = static_cast<unsigned>(n);
      keepGiven = true;
    } else if (arg == "--patch-piece-size") {
      // Not in the help: tests prove piece-wise patches with small files.
      if (!takeValue()) return false;
      if (!parseNumber(value, static_cast<long>(release::kMinPieceSize), static_cast<long>(release::kMaxPieceSize),
                       &n)) {
        *error = "--patch-piece-size: '" + value + "' is not a number of bytes from " +
                 std::to_string(release::kMinPieceSize) + " to " + std::to_string(release::kMaxPieceSize);
        return false;
      }
      p.patchPieceSize = static_cast<uint64_t>(n);
    } else if (arg == "-j" || arg == "--jobs") {
      if (!takeValue()) return false;
      if (!parseNumber(value, 1, 256, &n)) {
        *error = "--jobs: '" + value + "' is not a number from 1 to 256";
        return false;
      }
      p.jobs = static_cast<unsigned>(n);
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  if (positional.size() != 2) {
    *error = positional.size() < 2 ? "RELEASE_DIR and OUTPUT_DIR are required" : "too many arguments";
    return false;
  }
  out->publish.releaseDir = positional[0];
  out->publish.outputDir = positional[1];
  if (out->publish.iconsDir.empty() != out->publish.iconsOutputDir.empty()) {
    *error = "--icons and --icons-output go together";
    return false;
  }
  if ((expiresGiven || keepGiven) && out->publish.signKeyPath.empty()) {
    *error = std::string(expiresGiven ? "--expires" : "--keep-releases") + " needs --sign-key";
    return false;
  }
  return true;
}

}  // namespace publish
