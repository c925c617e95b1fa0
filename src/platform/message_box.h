// Message boxes without owner window, and the one Yes/No question.
// On POSIX the text goes to standard error; a question is asked on the
// terminal when there is one.
#pragma once

#include <string>

namespace platform {

enum : unsigned {
  kMbOk = 0x0,
  kMbYesNo = 0x4,
  kMbIconError = 0x10,
};

enum : int {
  kIdOk = 1,
  kIdYes = 6,
  kIdNo = 7,
};

int messageBox(const std::string& text, const std::string& caption, unsigned style);

// Tests answer boxes themselves: while a handler is set, messageBox hands
// every box to it and returns its answer instead of showing anything.
using MessageBoxHandler = int (*)(const std::string& text, const std::string& caption, unsigned style);
void setMessageBoxHandlerForTesting(MessageBoxHandler handler);

}  // namespace platform
