#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "VoRav/wpExceptions.h"

using namespace kav;

namespace {
std::vector<std::string> g_shown;
void CaptureDisplay(const std::string& text, const char* caption) {
  g_shown.push_back(std::string(caption) + "|" + text);
}
std::vector<std::string> g_debug;
void CaptureDebug(std::string_view s) { g_debug.emplace_back(s); }
}  // namespace

TEST(Exceptions, CommonExceptionMessageNamesTheMostDerivedClass) {
  EXPECT_EQ(EStreamReadError().Message(), "Orvane Exception: \"EStreamReadError\"");
  EXPECT_EQ(EConvertError().Message(), "Orvane Exception: \"EConvertError\"");
  EXPECT_EQ(EStreamError("custom").Message(), "custom");
  try {
    throw EStreamWriteError();
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.ClassName(), "EStreamWriteError");
  }
}

TEST(Exceptions, RunErrorTable) {
  try { RaiseRunError(106); FAIL(); } catch (const EInOutError& e) {
    EXPECT_EQ(e.Message(), "Invalid numeric input");
    EXPECT_EQ(e.ErrorCode, 106);
  }
  try { RaiseRunError(77); FAIL(); } catch (const EInOutError& e) { EXPECT_EQ(e.Message(), "I/O error 77"); }
  try { RaiseRunError(3); FAIL(); } catch (const EDivByZero& e) { EXPECT_EQ(e.Message(), "Division by zero"); }
  try { RaiseRunError(21); FAIL(); } catch (const EAssertionFailed& e) { EXPECT_EQ(e.Message(), "Assertion failed"); }
  EXPECT_EQ(RunErrorForFault(0xC0000094), 3);
  EXPECT_EQ(RunErrorForFault(0xC000008D), 9);
  EXPECT_EQ(RunErrorForFault(0xC0000005), 11);
  try { RaiseFault(0xE0001234); FAIL(); } catch (const EExternalException& e) {
    EXPECT_EQ(e.Message(), "External exception e0001234");
  }
}

TEST(Exceptions, OSErrors) {
  errno = 0;
  try { RaiseLastOSError(); FAIL(); } catch (const EOSError& e) {
    EXPECT_EQ(e.Message(), "A call to an OS function failed");
    EXPECT_EQ(e.ErrorCode, 0);
  }
  try { RaiseOSError(ENOENT); FAIL(); } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode, ENOENT);
    EXPECT_EQ(e.Message().rfind("System Error.  Code: 2.\r\n", 0), 0u);
    EXPECT_NE(e.Message().back(), '.');
  }
}

TEST(Exceptions, ShowApplicationErrorSkipsAbortAndNamesClassTwice) {
  g_shown.clear();
  auto old = SetErrorDisplay(CaptureDisplay);
  ShowApplicationError(EAbort("quiet"));
  EXPECT_TRUE(g_shown.empty());
  ShowApplicationError(EStreamReadError());
  SetErrorDisplay(old);
  ASSERT_EQ(g_shown.size(), 1u);
  const std::string& s = g_shown[0];
  EXPECT_EQ(s.rfind("Application Error|Exception EStreamReadError  in module ", 0), 0u);
  EXPECT_NE(s.find(" at 00000000.\r\nOrvane Exception: \"EStreamReadError\".\r\n"), std::string::npos);
}

TEST(Exceptions, AssertionWritesDebugLineAndRaisesAbort) {
  g_debug.clear();
  auto old = SetDebugOutputSink(CaptureDebug);
  int line = 0;
  try {
    line = __LINE__ + 1;
    KAV_ASSERT_MSG(1 + 1 == 3, "math broke");
    FAIL();
  } catch (const EAbort& e) {
    EXPECT_EQ(e.Message(), g_debug.at(0));
  }
  SetDebugOutputSink(old);
  // The file as the compiler names it: below the source folder, or relative
  // to a build folder inside the source tree ("../../tests/..."); never the
  // machine's absolute path.
  const std::string file = __FILE__;
  EXPECT_NE(file[0], '/');
  EXPECT_TRUE(file.ends_with("tests/VoRav/ExceptionsTest.cpp")) << file;
  EXPECT_EQ(g_debug[0], "Asseertion with message: 'math broke' (" + file + ", line: " + std::to_string(line) + ")");
}

TEST(Exceptions, FormattingAndThreadTags) {
  EXPECT_EQ(FormatAnsi("%d-%s", 5, "x"), "5-x");
  EXPECT_EQ(FormatAnsi("%s", std::string(5000, 'a').c_str()).size(), 2047u);
  EXPECT_EQ(ThreadTag(0x1a), "$001A");
  EXPECT_EQ(ThreadTag(0x12345), "$00012345");
}
