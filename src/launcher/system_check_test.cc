#include "launcher/system_check.h"

#include <gtest/gtest.h>

namespace tvl {


TEST(WindowsVersion, Table) {
  struct Case {
    uint32_t major, minor;
    bool accepted;
  } cases[] = {
      {0, 0, false},    // a failed query
      {3, 95, false},
      {4, 0, false},    // Windows 95, NT 4.0
      {4, 3, false},
      {4, 4, true},
      {4, 10, true},    // Windows 98
      {4, 90, true},    // Windows Me
      {5, 0, true},
      {6, 1, true},
      {10, 0, true},
      {4, 0xFFFFFFFFu, true},  // unsigned: a huge minor is above 3
      {0xFFFFFFFFu, 0, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(windowsVersionAccepted(c.major, c.minor), c.accepted) << c.major << "." << c.minor;
}

TEST(SystemCheckTexts, Exact) {
  EXPECT_STREQ(kOldWindowsCaption, "Incorrect Windows version");
  EXPECT_STREQ(kOldWindowsText, "Your OS is too old. Needs Windows 98 or higher to run properly");
  EXPECT_STREQ(kNoDirectXCaption, "DirectX error");
  EXPECT_STREQ(kNoDirectXText,
               "Can't initialize DirectX 9.0, make sure that proper version installed to your system");
}

TEST(GameNeedsDisplay, Table) {
  using namespace std::string_literals;
  struct Case {
    std::string head;
    bool needs;
  } cases[] = {
      {"MZ\x90\0\3\0"s, true},                                   // a Windows program
      {"\x7f" "ELF\2\1\1\0...libc.so.6\0libGL.so.1\0"s, true},
      {"\x7f" "ELF\2\1\1\0...libvulkan.so.1\0"s, true},
      {"\x7f" "ELF\2\1\1\0...libSDL2-2.0.so.0\0"s, true},
      {"\x7f" "ELF\2\1\1\0...libc.so.6\0libm.so.6\0"s, false},    // a console program
      {"#!/bin/sh\necho hi\n"s, false},
      {""s, false},
      {"M"s, false},
  };
  for (const Case& c : cases) EXPECT_EQ(gameNeedsDisplay(c.head), c.needs) << c.head;
}

}  // namespace tvl
