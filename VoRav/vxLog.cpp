#include "VoRav/vxLog.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxTime.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpFileStream.h"

namespace kav {

namespace {

// When the log module started: elapsed milliseconds and local time.
struct TLogStart {
  int64_t ElapsedMs;
  TSystemTime LocalTime;
};

const TLogStart& LogStart() {
  static const TLogStart start = [] {
    TLogStart s{GetElapsedMs64(), {}};
    GetLocalTimeNow(s.LocalTime);
    return s;
  }();
  return start;
}

[[maybe_unused]] const TLogStart& g_log_start_init = LogStart();

std::u16string Int64Text(int64_t v) {
  const std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

std::u16string DateTimeText(const TSystemTime& t) { return DateTimeToText(t, u"DD.MM.YYYY", 15); }

// Writes lines with both flags off and puts them back afterwards.
class TPlainLines {
 public:
  explicit TPlainLines(TLog* log) : log_(log), thread_id_(log->ShowThreadId), time_(log->ShowTime) {
    log->ShowThreadId = false;
    log->ShowTime = false;
  }
  ~TPlainLines() {
    log_->ShowThreadId = thread_id_;
    log_->ShowTime = time_;
  }
  TPlainLines(const TPlainLines&) = delete;
  TPlainLines& operator=(const TPlainLines&) = delete;

 private:
  TLog* log_;
  bool thread_id_, time_;
};

std::mutex g_global_lock;
TLog* g_global = nullptr;  // one reference held; guarded by g_global_lock

}  // namespace

TLog::TLog() { WriteProc = TWriteProc::Bind<&TLog::WriteRaw>(this); }

void TLog::WriteRaw(const std::u16string&) {}

void TLog::WriteLine(const std::u16string& text) {
  if (Disabled()) return;
  try {
    std::u16string line = Prefix;
    if (ShowThreadId) {
      const uint64_t id = static_cast<uint64_t>(syscall(SYS_gettid));
      line += u'#';
      line += IntToHex(4, id);
      line += u' ';
    }
    if (ShowTime) {
      line += u'[';
      line += Int64Text(GetElapsedMs64() - LogStart().ElapsedMs);
      line += u"] ";
    }
    line += text;
    if (WriteProc) WriteProc(line);
  } catch (...) {
    Disable();
  }
}

void TLog::WriteValueInt(std::u16string_view before, std::u16string_view after, int64_t value) {
  WriteLine(std::u16string(before) + Int64Text(value) + std::u16string(after));
}

void TLog::WriteValueFloat(std::u16string_view before, std::u16string_view after, double value) {
  WriteLine(std::u16string(before) + FloatToStrTrim(16, value) + std::u16string(after));
}

void TLog::WriteValueBool(std::u16string_view before, std::u16string_view after, bool value) {
  WriteLine(std::u16string(before) + (value ? u"True" : u"False") + std::u16string(after));
}

void TLog::WriteIntArray(std::u16string_view before, std::span<const int64_t> values, std::u16string_view after) {
  std::u16string line(before);
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) line += u", ";
    line += IntToStr(static_cast<int32_t>(static_cast<uint32_t>(values[i])));
  }
  WriteLine(line + std::u16string(after));
}

void TLog::WriteFloatArray(std::u16string_view before, std::span<const double> values, std::u16string_view after) {
  std::u16string line(before);
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) line += u", ";
    line += FloatToStrTrim(16, values[i]);
  }
  WriteLine(line + std::u16string(after));
}

void TLog::WritePoint(std::u16string_view before, int32_t x, int32_t y, std::u16string_view after) {
  const int64_t v[] = {x, y};
  WriteIntArray(before, v, after);
}

void TLog::WriteRect(std::u16string_view before, const TRect& rect, std::u16string_view after) {
  const int64_t v[] = {rect.Left, rect.Top, rect.Right, rect.Bottom};
  WriteIntArray(before, v, after);
}

void TLog::StartTimer(int64_t& start) { start = GetElapsedMs64(); }

void TLog::WriteElapsed(std::u16string_view before, int64_t start, std::u16string_view after) {
  WriteLine(std::u16string(before) + Int64Text(GetElapsedMs64() - start) + std::u16string(after));
}

void TStdLog::WriteRaw(const std::u16string& text) { DebugOutput(WideToSystemUTF8(text)); }

TExclLog::TExclLog() : lock_(MakeRef<TCriticalSection>()) {}

void TExclLog::WriteLine(const std::u16string& text) {
  lock_->Enter();
  TLog::WriteLine(text);
  lock_->Leave();
}

void TExclLog::Dispose() {
  lock_ = nullptr;
  TLog::Dispose();
}

void TStreamLog::SetStream(TStream* stream, bool owns) {
  if (stream != stream_) {
    CloseStream();  // the old stream under its own flag
    stream_ = stream;
  }
  owns_stream_ = owns;
}

void TStreamLog::CloseStream() {
  TStream* s = stream_;
  stream_ = nullptr;
  if (s && owns_stream_) RefRelease(s);
  owns_stream_ = false;
}

void TStreamLog::WriteRaw(const std::u16string& text) {
  if (!stream_ || Disabled()) return;
  std::string bytes;
  try {
    if (stream_->GetSize() == 0) bytes = "\xEF\xBB\xBF";
    bytes += UTF8Encode(text);
    bytes += "\r\n";
    // One write for the whole line: a file that others append to gets it in one piece.
    const std::span<const uint8_t> line(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (stream_->Write(line, static_cast<int64_t>(line.size())) < static_cast<int64_t>(line.size()))
      throw EStreamWriteError();
  } catch (...) {
    Disable();
  }
}

void TStreamLog::Dispose() {
  CloseStream();
  TExclLog::Dispose();
}

namespace {

// Puts the file in place holding only the byte-order mark, unless a file of
// the name is there: written under a name of its own and moved without
// replacing, so a writer that opens the file meanwhile finds it either
// missing or with its mark.
void CreateWithMark(const std::u16string& name) {
  if (FileExists(name)) return;
  const std::u16string fresh = name + u"." + IntToStr(static_cast<int32_t>(getpid())) + u"." +
                               IntToStr(static_cast<int32_t>(syscall(SYS_gettid))) + u".new";
  try {
    {
      TFileStream mark(fresh, kGenericWrite, 0, kCreateNew);
      const uint8_t bom[] = {0xEF, 0xBB, 0xBF};
      mark.WriteBytes(bom);
      mark.Close();
    }
    if (FileAPI()->MoveFileEx(fresh, name, 0)) return;
  } catch (const Exception&) {  // opening the log itself says what is wrong
    return;
  }
  FileAPI()->DeleteFile(fresh);
}

}  // namespace

TFileLog::TFileLog(const std::u16string& file_name, bool append) {
  const std::u16string name = file_name.empty() ? ChangeFileExt(GetProgramFileName(), u".log") : file_name;
  // Departure: a log that is appended to may be shared by players running
  // at once. It is opened for appending (each line, one write, lands whole
  // at the end) and a new one starts with its byte-order mark in place.
  if (append) CreateWithMark(name);
  Ref<TFileStream> file = MakeRef<TFileStream>(name, kGenericRead | kGenericWrite | (append ? kFileAppendData : 0u),
                                               kFileShareRead, append ? kOpenAlways : kCreateAlways);
  if (append) file->SetPosition(file->GetSize());
  SetStream(file.release(), true);
}

Ref<TLog> GetGlobalLog() {
  std::lock_guard<std::mutex> guard(g_global_lock);
  if (!g_global) g_global = new TLog;
  return Ref<TLog>(g_global);
}

void SetGlobalLog(Ref<TLog> log) {
  if (!log) log = MakeRef<TLog>();
  TLog* previous;
  {
    std::lock_guard<std::mutex> guard(g_global_lock);
    if (log.get() == g_global) return;
    previous = g_global;
    g_global = log.release();
  }
  if (previous) {
    try {
      RefRelease(previous);
    } catch (...) {  // reported through the debug output
    }
  }
}

void LogLine(const std::u16string& text) {
  const Ref<TLog> log = GetGlobalLog();
  log->WriteLine(text);
}

void WriteStartBanner(TLog* log) {
  TPlainLines plain(log);
  const std::u16string rule(64, u'=');
  log->WriteLine(u"");
  log->WriteLine(rule);
  log->WriteLine(u"Program : " + GetProgramFileName());
  log->WriteLine(u"started : " + DateTimeText(LogStart().LocalTime));
  log->WriteLine(rule);
}

void WriteEndBanner(TLog* log) {
  TPlainLines plain(log);
  const std::u16string rule(64, u'-');
  TSystemTime now;
  GetLocalTimeNow(now);
  log->WriteLine(u"");
  log->WriteLine(rule);
  log->WriteLine(u"Program stoped : " + DateTimeText(now) + u" (work time : " +
                 Int64Text(GetElapsedMs64() - LogStart().ElapsedMs) + u" ms)");
  log->WriteLine(rule);
}

}  // namespace kav
