// Exceptions, assertions and the debug output.
//
// Every failure in the system is an exception derived from kav::Exception.
// The library's own families derive from TCommonException, whose message is
// built from the class name. Internal checks use KAV_ASSERT, which reports and
// raises EAbort (an exception the error display never shows).
#pragma once

#include <cstdarg>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace kav {

// Base of every exception. Message is 8-bit (UTF-8) text.
class Exception : public std::exception {
 public:
  Exception() = default;
  explicit Exception(std::string message) : message_(std::move(message)) {}
  ~Exception() override = default;

  // Message formatted printf-style into a 2048-byte buffer (longer texts are cut).
  static Exception CreateFmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

  // The class name as the error reports show it ("EStreamReadError").
  virtual const char* ClassName() const noexcept { return "Exception"; }

 protected:
  std::string message_;
};

// Declares an exception class with its class name and the parent's constructors.
#define KAV_DECLARE_EXCEPTION(Name, Parent)                                  \
  class Name : public Parent {                                               \
   public:                                                                   \
    using Parent::Parent;                                                    \
    Name() = default;                                                        \
    const char* ClassName() const noexcept override { return #Name; }        \
  }

KAV_DECLARE_EXCEPTION(EAbort, Exception);
KAV_DECLARE_EXCEPTION(EHeapException, Exception);
KAV_DECLARE_EXCEPTION(EOutOfMemory, EHeapException);
KAV_DECLARE_EXCEPTION(EInvalidPointer, EHeapException);
KAV_DECLARE_EXCEPTION(EExternal, Exception);
KAV_DECLARE_EXCEPTION(EExternalException, EExternal);
KAV_DECLARE_EXCEPTION(EIntError, EExternal);
KAV_DECLARE_EXCEPTION(EDivByZero, EIntError);
KAV_DECLARE_EXCEPTION(ERangeError, EIntError);
KAV_DECLARE_EXCEPTION(EIntOverflow, EIntError);
KAV_DECLARE_EXCEPTION(EMathError, EExternal);
KAV_DECLARE_EXCEPTION(EInvalidOp, EMathError);
KAV_DECLARE_EXCEPTION(EZeroDivide, EMathError);
KAV_DECLARE_EXCEPTION(EOverflow, EMathError);
KAV_DECLARE_EXCEPTION(EUnderflow, EMathError);
KAV_DECLARE_EXCEPTION(EAccessViolation, EExternal);
KAV_DECLARE_EXCEPTION(EPrivilege, EExternal);
KAV_DECLARE_EXCEPTION(EStackOverflow, EExternal);
KAV_DECLARE_EXCEPTION(EControlC, EExternal);
KAV_DECLARE_EXCEPTION(EInvalidCast, Exception);
KAV_DECLARE_EXCEPTION(EVariantError, Exception);
KAV_DECLARE_EXCEPTION(EAssertionFailed, Exception);
KAV_DECLARE_EXCEPTION(EAbstractError, Exception);
KAV_DECLARE_EXCEPTION(EIntfCastError, Exception);
KAV_DECLARE_EXCEPTION(ESafecallException, Exception);

// Run-time I/O error with its code.
class EInOutError : public Exception {
 public:
  EInOutError(std::string message, int32_t code) : Exception(std::move(message)), ErrorCode(code) {}
  const char* ClassName() const noexcept override { return "EInOutError"; }
  int32_t ErrorCode = 0;
};

// Operating-system error with its code (errno on this system).
class EOSError : public Exception {
 public:
  EOSError(std::string message, int32_t code) : Exception(std::move(message)), ErrorCode(code) {}
  const char* ClassName() const noexcept override { return "EOSError"; }
  int32_t ErrorCode = 0;
};

// Base of the library's own exceptions. Constructed without a message, its
// message is "Orvane Exception: " and the class name in double quotes.
class TCommonException : public Exception {
 public:
  TCommonException() { BuildMessage(); }
  explicit TCommonException(std::string message) : Exception(std::move(message)) {}
  const char* ClassName() const noexcept override { return "TCommonException"; }

 protected:
  // Sets the default message from ClassName(); every constructor level calls
  // it, so the most derived class name wins.
  void BuildMessage();
};

#define KAV_DECLARE_COMMON_EXCEPTION(Name, Parent)                           \
  class Name : public Parent {                                               \
   public:                                                                   \
    Name() { BuildMessage(); }                                               \
    explicit Name(std::string message) : Parent(std::move(message)) {}      \
    const char* ClassName() const noexcept override { return #Name; }        \
  }

KAV_DECLARE_COMMON_EXCEPTION(EThreadError, TCommonException);
KAV_DECLARE_COMMON_EXCEPTION(EMutexTakeOwnershipError, EThreadError);
KAV_DECLARE_COMMON_EXCEPTION(EStreamError, TCommonException);
KAV_DECLARE_COMMON_EXCEPTION(EStreamReadError, EStreamError);
KAV_DECLARE_COMMON_EXCEPTION(EStreamWriteError, EStreamError);
KAV_DECLARE_COMMON_EXCEPTION(EStreamSeekError, EStreamError);
KAV_DECLARE_COMMON_EXCEPTION(EConvertError, TCommonException);

// File-system errors carry the operating system's error code and text.
class EFileError : public Exception {
 public:
  EFileError() = default;
  EFileError(std::string message, int32_t code = 0) : Exception(std::move(message)), ErrorCode(code) {}
  const char* ClassName() const noexcept override { return "EFileError"; }
  int32_t ErrorCode = 0;
};
KAV_DECLARE_EXCEPTION(EFileOpenError, EFileError);
KAV_DECLARE_EXCEPTION(EFileSeekError, EFileError);
KAV_DECLARE_EXCEPTION(EFileReadError, EFileError);
KAV_DECLARE_EXCEPTION(EFileWriteError, EFileError);
KAV_DECLARE_EXCEPTION(EFileAccessError, EFileError);
KAV_DECLARE_EXCEPTION(EFolderError, EFileError);

// printf-style formatting into a 2048-byte buffer; longer results are cut.
std::string FormatAnsi(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatAnsiV(const char* format, va_list args);

// Raises the exception the run-time error table gives for `code` (1..24), or
// EInOutError for any other code. Never returns.
[[noreturn]] void RaiseRunError(int code);
// The run-time error code for an operating-system fault code (22 for unknown ones).
int RunErrorForFault(uint32_t fault_code);
// Raises the exception for an operating-system fault code. Never returns.
[[noreturn]] void RaiseFault(uint32_t fault_code);

// Raises EOSError for errno ("A call to an OS function failed" when it is 0).
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseOSError(int code);
// The system's text for an error code, trailing blanks, controls and points cut.
std::string OSErrorMessage(int code);

// The report text of an exception: "Exception <class>  in module <file> at
// <8 hex digits>.\r\n<message>.\r\n". `address` may be null.
std::string ExceptionReportText(const std::exception& e, const void* address);

// Shows an exception to the user; EAbort shows nothing. The display goes
// through SetErrorDisplay (a message box in the GUI, standard error by default).
void ShowApplicationError(const std::exception& e, const void* address = nullptr);
using ErrorDisplayProc = void (*)(const std::string& text, const char* caption);
ErrorDisplayProc SetErrorDisplay(ErrorDisplayProc proc);

// Debug output: the stand-in for the debugger output. Goes to the sink set by
// SetDebugOutputSink; by default to standard error when KAV_DEBUG_OUTPUT is set
// in the environment, else nowhere.
using DebugOutputSink = void (*)(std::string_view text);
DebugOutputSink SetDebugOutputSink(DebugOutputSink sink);
void DebugOutput(std::string_view text);
// "$" + the thread id in upper-case hex (4 digits below 0x10000, else 8), a blank, the text.
void DebugOutputThread(std::string_view text);
std::string ThreadTag(uint64_t thread_id);

// Assertions. The handler builds "Asseertion with message: '<msg>' (<file>,
// line: <line>)", writes it to the debug output, calls the user hook when one
// is set, and raises EAbort with the text.
using AssertionHook = void (*)(const std::string& message, const char* file, int line);
AssertionHook SetAssertionHook(AssertionHook hook);
[[noreturn]] void AssertionFailed(std::string_view message, const char* file, int line);
[[noreturn]] void AbstractError();

}  // namespace kav

#define KAV_ASSERT(cond) \
  do { if (!(cond)) ::kav::AssertionFailed("Assertion failure", __FILE__, __LINE__); } while (0)
#define KAV_ASSERT_MSG(cond, msg) \
  do { if (!(cond)) ::kav::AssertionFailed((msg), __FILE__, __LINE__); } while (0)
#define KAV_ASSERT_FAIL(msg) ::kav::AssertionFailed((msg), __FILE__, __LINE__)
