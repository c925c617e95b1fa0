#include "platform/message_box.h"

#include <windows.h>

namespace platform {

int messageBox(const std::string& text, const std::string& caption, unsigned style) {
  return MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
}

}  // namespace platform
