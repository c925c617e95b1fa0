// googletest entry point shared by every unit-test binary. Under Wine a crash
// could otherwise read as success: end crashed tests with a non-zero code.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <cstdio>

static LONG WINAPI onCrash(EXCEPTION_POINTERS* e) {
  std::fprintf(stderr, "unhandled exception 0x%08lX\n", e ? e->ExceptionRecord->ExceptionCode : 0UL);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 99);
  return EXCEPTION_EXECUTE_HANDLER;
}
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  SetUnhandledExceptionFilter(onCrash);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
#endif
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
