// Command line of tervalis-publish.
#pragma once

#include <string>
#include <vector>

#include "publish/publisher.h"

namespace publish {

struct CommandLine {
  PublishOptions publish;
  std::string keygenPath;  // set: "keygen FILE", make a key instead of publishing
  bool help = false;
  bool quiet = false;
  bool verbose = false;
};

// Parses the arguments after the program name: "keygen SECRET_FILE" or a
// publish run. False with a message for
// anything it cannot use; `help` set means print usage and stop.
bool parseCommandLine(const std::vector<std::string>& args, unsigned defaultJobs, CommandLine* out,
                      std::string* error);

extern const char kUsage[];

}  // namespace publish
