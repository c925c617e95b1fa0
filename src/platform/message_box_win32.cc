#include "platform/message_box.h"

#include <windows.h>

namespace platform {

namespace {
MessageBoxHandler testHandler = nullptr;
}  // namespace

void setMessageBoxHandlerForTesting(MessageBoxHandler handler) { testHandler = handler; }

int messageBox(const std::string& text, const std::string& caption, unsigned style) {
  if (testHandler) return testHandler(text, caption, style);
  return MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
}

}  // namespace platform
