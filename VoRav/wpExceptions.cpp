#include "VoRav/wpExceptions.h"

#include "VoRav/Win32/winProgramPath.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <sys/syscall.h>

namespace kav {

namespace {

std::atomic<DebugOutputSink> g_debug_sink{nullptr};
std::atomic<AssertionHook> g_assertion_hook{nullptr};
std::atomic<ErrorDisplayProc> g_error_display{nullptr};

void DefaultDebugSink(std::string_view text) {
  static const bool enabled = std::getenv("KAV_DEBUG_OUTPUT") != nullptr;
  if (enabled) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
  }
}

void DefaultErrorDisplay(const std::string& text, const char* /*caption*/) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputs("\r\n", stderr);
}

std::string ProgramFileName() {
  const std::string& path = ProgramPathSystem();
  if (path.empty()) return "unknown";
  return path.substr(path.rfind('/') + 1);
}

}  // namespace

void TCommonException::BuildMessage() {
  message_ = std::string("Orvane Exception: \"") + ClassName() + "\"";
}

std::string FormatAnsiV(const char* format, va_list args) {
  char buf[2048];
  int n = std::vsnprintf(buf, sizeof buf, format, args);
  if (n < 0) return std::string();
  return std::string(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

std::string FormatAnsi(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = FormatAnsiV(format, args);
  va_end(args);
  return s;
}

Exception Exception::CreateFmt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = FormatAnsiV(format, args);
  va_end(args);
  return Exception(std::move(s));
}

void RaiseRunError(int code) {
  switch (code) {
    case 1: throw EOutOfMemory("Out of memory");
    case 2: throw EInvalidPointer("Invalid pointer operation");
    case 3: throw EDivByZero("Division by zero");
    case 4: throw ERangeError("Range check error");
    case 5: throw EIntOverflow("Integer overflow");
    case 6: throw EInvalidOp("Invalid floating point operation");
    case 7: throw EZeroDivide("Floating point division by zero");
    case 8: throw EOverflow("Floating point overflow");
    case 9: throw EUnderflow("Floating point underflow");
    case 10: throw EInvalidCast("Invalid class typecast");
    case 11: throw EAccessViolation("Access violation");
    case 12: throw EPrivilege("Privileged instruction");
    case 13: throw EControlC("Control-C hit");
    case 14: throw EStackOverflow("Stack overflow");
    case 15: throw EVariantError("Invalid variant type conversion");
    case 16: throw EVariantError("Invalid variant operation");
    case 17: throw EVariantError("Variant method calls not supported");
    case 18: throw EVariantError("Error creating variant or safe array");
    case 19: throw EVariantError("Invalid argument");
    case 20: throw EVariantError("Variant or safe array index out of bounds");
    case 21: throw EAssertionFailed("Assertion failed");
    case 22: throw EExternalException("External exception 0");
    case 23: throw EIntfCastError("Interface not supported");
    case 24: throw ESafecallException("Exception in safecall method");
    default: break;
  }
  const char* text = nullptr;
  switch (code) {
    case 2: text = "File not found"; break;
    case 3: text = "Invalid filename"; break;
    case 4: text = "Too many open files"; break;
    case 5: text = "File access denied"; break;
    case 100: text = "Read beyond end of file"; break;
    case 101: text = "Disk full"; break;
    case 106: text = "Invalid numeric input"; break;
    default: break;
  }
  throw EInOutError(text ? std::string(text) : FormatAnsi("I/O error %d", code), code);
}

int RunErrorForFault(uint32_t fault_code) {
  switch (fault_code) {
    case 0xC0000094: return 3;
    case 0xC000008C: return 4;
    case 0xC0000095: return 5;
    case 0xC0000092: case 0xC000008F: case 0xC0000090: return 6;
    case 0xC000008E: return 7;
    case 0xC0000091: return 8;
    case 0xC000008D: case 0xC0000093: return 9;
    case 0xC0000005: return 11;
    case 0xC0000096: return 12;
    case 0xC000013A: return 13;
    case 0xC00000FD: return 14;
    default: return 22;
  }
}

void RaiseFault(uint32_t fault_code) {
  int code = RunErrorForFault(fault_code);
  if (code == 22) throw EExternalException(FormatAnsi("External exception %x", fault_code));
  RaiseRunError(code);
}

std::string OSErrorMessage(int code) {
  char buf[256];
  const char* text = strerror_r(code, buf, sizeof buf);  // GNU form
  std::string s(text ? text : "");
  if (s.size() > 256) s.resize(256);
  while (!s.empty()) {
    unsigned char c = static_cast<unsigned char>(s.back());
    if (c <= ' ' || c == '.') s.pop_back(); else break;
  }
  return s;
}

void RaiseOSError(int code) {
  if (code != 0)
    throw EOSError(FormatAnsi("System Error.  Code: %d.\r\n%s", code, OSErrorMessage(code).c_str()), code);
  throw EOSError("A call to an OS function failed", 0);
}

void RaiseLastOSError() { RaiseOSError(errno); }

std::string ExceptionReportText(const std::exception& e, const void* address) {
  const auto* ke = dynamic_cast<const Exception*>(&e);
  const char* class_name = ke ? ke->ClassName() : "std::exception";
  std::string text = FormatAnsi("Exception %s  in module %s at %08llX.\r\n%s.\r\n", class_name,
                                ProgramFileName().c_str(),
                                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address)),
                                e.what());
  if (text.size() > 1023) text.resize(1023);
  return text;
}

ErrorDisplayProc SetErrorDisplay(ErrorDisplayProc proc) { return g_error_display.exchange(proc); }

void ShowApplicationError(const std::exception& e, const void* address) {
  if (dynamic_cast<const EAbort*>(&e)) return;
  std::string text = ExceptionReportText(e, address);
  DebugOutput(text);
  ErrorDisplayProc display = g_error_display.load();
  (display ? display : DefaultErrorDisplay)(text, "Application Error");
}

DebugOutputSink SetDebugOutputSink(DebugOutputSink sink) { return g_debug_sink.exchange(sink); }

void DebugOutput(std::string_view text) {
  DebugOutputSink sink = g_debug_sink.load();
  (sink ? sink : DefaultDebugSink)(text);
}

std::string ThreadTag(uint64_t thread_id) {
  return thread_id < 0x10000 ? FormatAnsi("$%04llX", static_cast<unsigned long long>(thread_id))
                             : FormatAnsi("$%08llX", static_cast<unsigned long long>(thread_id));
}

void DebugOutputThread(std::string_view text) {
  std::string s = ThreadTag(static_cast<uint64_t>(syscall(SYS_gettid)));
  s += ' ';
  s.append(text);
  DebugOutput(s);
}

AssertionHook SetAssertionHook(AssertionHook hook) { return g_assertion_hook.exchange(hook); }

void AssertionFailed(std::string_view message, const char* file, int line) {
  std::string text = "Asseertion with message: '";
  text.append(message);
  text += "' (";
  text += file ? file : "";
  text += ", line: " + std::to_string(line) + ")";
  DebugOutput(text);
  if (AssertionHook hook = g_assertion_hook.load()) hook(std::string(message), file, line);
  throw EAbort(text);
}

void AbstractError() { throw EAbstractError("Abstract Error"); }

}  // namespace kav
