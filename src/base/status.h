// The result of a core operation that can fail: a code and a message, cheap
// when all is well. Codes are the numbers the user is shown (WinINet's,
// HTTP statuses, the C library's errno); the message says what failed (for
// a transfer, the object path).
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace tvl {


class Status {
 public:
  Status() = default;  // success
  static Status ok() { return Status(); }
  static Status error(uint32_t code, std::string message) { return Status(code, std::move(message)); }

  bool isOk() const { return !failed_; }
  uint32_t code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  Status(uint32_t code, std::string message) : failed_(true), code_(code), message_(std::move(message)) {}
  bool failed_ = false;
  uint32_t code_ = 0;
  std::string message_;
};

}  // namespace tvl
