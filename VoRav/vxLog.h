// The log: one global object that receives free-text lines from every part
// of the system.
//
//   TLog        formats lines and hands them to WriteProc (its own WriteRaw,
//               which discards them)
//   TStdLog     writes lines to the debug output
//   TExclLog    serialises whole lines with a lock
//   TStreamLog  writes UTF-8 lines (CR LF) into a stream, beginning an empty
//               stream with the byte-order mark EF BB BF
//   TFileLog    a stream log on a file named after the program with ".log"
//
// A line is Prefix, then with ShowThreadId "#" and the thread id in
// upper-case hexadecimal (at least 4 digits) and a blank, then with ShowTime
// "[" and the milliseconds since the log module started and "] ", then the
// text.
//
// Logging never raises into its caller: the first failure to write a line
// (a full disk, a closed stream) disables the log object, which then drops
// every later line.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "VoRav/SysObj2.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/vxStream.h"
#include "VoRav/wpLocks.h"
#include "VoRav/wpTypes.h"

namespace kav {

class TLog : public TRefObject {
 public:
  using TWriteProc = TDelegate<void(const std::u16string&)>;

  TLog();

  // Receives every formatted line; set to this object's WriteRaw.
  TWriteProc WriteProc;
  std::u16string Prefix;
  bool ShowThreadId = false;
  bool ShowTime = false;

  // Puts one finished line out. Does nothing in TLog.
  virtual void WriteRaw(const std::u16string& text);
  // Formats the line and hands it to WriteProc. Never raises: a failure
  // disables the log.
  virtual void WriteLine(const std::u16string& text);
  // True after a line could not be written; later lines are dropped.
  bool Disabled() const noexcept { return disabled_.load(std::memory_order_relaxed); }

  // One line each: before + the value(s) + after.
  void WriteValueInt(std::u16string_view before, std::u16string_view after, int64_t value);
  // The value with FloatToStrTrim and 16 decimals.
  void WriteValueFloat(std::u16string_view before, std::u16string_view after, double value);
  // "True" or "False".
  void WriteValueBool(std::u16string_view before, std::u16string_view after, bool value);
  // The low 32 bits of each value, in decimal, joined by ", ".
  void WriteIntArray(std::u16string_view before, std::span<const int64_t> values, std::u16string_view after);
  void WriteFloatArray(std::u16string_view before, std::span<const double> values, std::u16string_view after);
  void WritePoint(std::u16string_view before, int32_t x, int32_t y, std::u16string_view after);
  void WriteRect(std::u16string_view before, const TRect& rect, std::u16string_view after);

  // Stores the current elapsed milliseconds in `start`.
  static void StartTimer(int64_t& start);
  // before + the milliseconds since `start` + after.
  void WriteElapsed(std::u16string_view before, int64_t start, std::u16string_view after);

 protected:
  // Subclasses call this when their output fails.
  void Disable() noexcept { disabled_.store(true, std::memory_order_relaxed); }

 private:
  std::atomic<bool> disabled_{false};
};

class TStdLog : public TLog {
 public:
  void WriteRaw(const std::u16string& text) override;
};

class TExclLog : public TLog {
 public:
  TExclLog();
  // The inherited WriteLine under the lock: lines of different threads never mix.
  void WriteLine(const std::u16string& text) override;

 protected:
  void Dispose() override;

 private:
  Ref<TCriticalSection> lock_;
};

class TStreamLog : public TExclLog {
 public:
  TStreamLog() = default;
  // Writes to `stream` from now on. With `owns` the log takes over one
  // reference the caller held and drops it when it lets the stream go.
  // Setting another stream lets the current one go first (under its own
  // ownership flag).
  void SetStream(TStream* stream, bool owns);
  // Lets the stream go (dropping the reference when owned).
  void CloseStream();
  TStream* Stream() const noexcept { return stream_; }

  // Nothing without a stream. An empty stream gets the byte-order mark
  // first; then the text in UTF-8 and CR LF. A write failure disables the
  // log.
  void WriteRaw(const std::u16string& text) override;

 protected:
  void Dispose() override;

 private:
  TStream* stream_ = nullptr;
  bool owns_stream_ = false;
};

class TFileLog : public TStreamLog {
 public:
  // Opens the file for reading and writing, share read: appended to when
  // `append` is set (opened or created, positioned at its end), else created
  // anew. An empty name means the program's file with the extension ".log".
  // Raises EFileOpenError when the file cannot be opened.
  explicit TFileLog(const std::u16string& file_name = std::u16string(), bool append = false);
};

// The current global log (a plain TLog until one is set).
Ref<TLog> GetGlobalLog();
// Makes `log` the global log; nil installs a new plain TLog. Setting the
// current log again changes nothing. The previous log is dropped once no
// writer holds it any more.
void SetGlobalLog(Ref<TLog> log);
// Writes one line to the global log.
void LogLine(const std::u16string& text);

// The banners at the start and the end of a run (ShowThreadId and ShowTime
// are off for their lines).
void WriteStartBanner(TLog* log);
void WriteEndBanner(TLog* log);

}  // namespace kav
