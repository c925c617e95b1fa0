#include "platform/message_box.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace platform {

// Headless: the text goes to standard error. A question is answered on the
// terminal; without one, TVL_ANSWER (yes/no) decides, and otherwise the
// careful answer, No.
namespace {
MessageBoxHandler testHandler = nullptr;
}  // namespace

void setMessageBoxHandlerForTesting(MessageBoxHandler handler) { testHandler = handler; }

int messageBox(const std::string& text, const std::string& caption, unsigned style) {
  if (testHandler) return testHandler(text, caption, style);
  std::fprintf(stderr, "\n[%s] %s\n", caption.c_str(), text.c_str());
  if ((style & 0xF) != kMbYesNo) return kIdOk;
  if (const char* a = std::getenv("TVL_ANSWER")) return (a[0] == 'y' || a[0] == 'Y') ? kIdYes : kIdNo;
  if (!isatty(STDIN_FILENO)) return kIdNo;
  std::fprintf(stderr, "[y/N] ");
  char line[16] = {0};
  if (!std::fgets(line, sizeof line, stdin)) return kIdNo;
  return (line[0] == 'y' || line[0] == 'Y') ? kIdYes : kIdNo;
}

}  // namespace platform
