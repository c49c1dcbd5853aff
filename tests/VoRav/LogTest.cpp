#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <thread>

#include "ProbeStream.h"
#include "TempFolder.h"
#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/vxPaths.h"

using namespace kav;
using kav::test::TProbeStream;
using kav::test::TTempFolder;

namespace {

// Collects the formatted lines of a log.
struct TLines {
  std::vector<std::string> Items;
  static void Add(void* self, const std::u16string& line) {
    static_cast<TLines*>(self)->Items.push_back(UTF8Encode(line));
  }
  void Attach(TLog* log) { log->WriteProc = TLog::TWriteProc::FromFunction(&TLines::Add, this); }
};

// Whether `s` has the shape: '\1' stands for one or more digits, '\2' for
// one or more upper-case hexadecimal digits, anything else for itself.
bool Shaped(std::string_view s, std::string_view shape) {
  size_t i = 0;
  for (char c : shape) {
    if (c == '\1' || c == '\2') {
      const size_t from = i;
      while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || (c == '\2' && s[i] >= 'A' && s[i] <= 'F'))) ++i;
      if (i == from) return false;
    } else if (i >= s.size() || s[i++] != c) {
      return false;
    }
  }
  return i == s.size();
}

std::string Contents(TMemoryStream* s) {
  return std::string(reinterpret_cast<const char*>(s->Memory()), static_cast<size_t>(s->GetSize()));
}

// A stream whose writes fail with an exception.
class TBrokenStream : public TProbeStream {
 protected:
  int64_t DoWrite(std::span<const uint8_t>) override { throw EStreamWriteError("disk gone"); }
};

}  // namespace

TEST(Log, LineFormatAndValueWriters) {
  auto log = MakeRef<TLog>();
  TLines lines;
  lines.Attach(log.get());
  log->Prefix = u"P:";
  log->WriteLine(u"plain");
  log->ShowThreadId = true;
  log->ShowTime = true;
  log->WriteLine(u"x");
  log->ShowThreadId = false;
  log->WriteLine(u"t");
  log->ShowTime = false;
  log->Prefix.clear();
  log->WriteValueBool(u"a=", u".", true);
  log->WriteValueInt(u"n=", u"", -42);
  log->WriteValueFloat(u"f=", u"", 1.5);
  const int64_t ints[] = {0x100000005LL, -1, 7};
  log->WriteIntArray(u"[", ints, u"]");
  const double floats[] = {0.25, 2.0};
  log->WriteFloatArray(u"", floats, u"");
  log->WriteRect(u"r ", TRect{1, 2, 3, 4}, u"");
  log->WritePoint(u"p ", -5, 6, u"");

  ASSERT_EQ(lines.Items.size(), 10u);
  EXPECT_EQ(lines.Items[0], "P:plain");
  EXPECT_TRUE(Shaped(lines.Items[1], "P:#\2 [\1] x")) << lines.Items[1];
  EXPECT_GE(lines.Items[1].find(' '), 7u);  // at least 4 hexadecimal digits
  EXPECT_TRUE(Shaped(lines.Items[2], "P:[\1] t")) << lines.Items[2];
  EXPECT_EQ(lines.Items[3], "a=True.");
  EXPECT_EQ(lines.Items[4], "n=-42");
  EXPECT_EQ(lines.Items[5], "f=1.5");
  EXPECT_EQ(lines.Items[6], "[5, -1, 7]");  // the low 32 bits of each value
  EXPECT_EQ(lines.Items[7], "0.25, 2");
  EXPECT_EQ(lines.Items[8], "r 1, 2, 3, 4");
  EXPECT_EQ(lines.Items[9], "p -5, 6");

  int64_t start = 0;
  TLog::StartTimer(start);
  log->WriteElapsed(u"took ", start, u" ms");
  EXPECT_TRUE(Shaped(lines.Items.back(), "took \1 ms"));
}

TEST(Log, StreamLogWritesUtf8LinesAndSurvivesFailures) {
  auto log = MakeRef<TStreamLog>();
  auto mem = MakeRef<TMemoryStream>();
  log->SetStream(mem.get(), false);
  log->WriteLine(u"caf\u00E9");
  log->WriteLine(u"two");
  EXPECT_EQ(Contents(mem.get()), "\xEF\xBB\xBF" "caf\xC3\xA9\r\ntwo\r\n");

  // Letting an unowned stream go leaves it to its owner; an owned one is dropped.
  auto owned = MakeRef<TMemoryStream>();
  RefAddRef(owned.get());
  log->SetStream(owned.get(), true);
  EXPECT_EQ(mem->RefCount(), 1);
  log->SetStream(mem.get(), false);
  EXPECT_EQ(owned->RefCount(), 1);
  EXPECT_EQ(mem->RefCount(), 1);

  // A stream that stops taking bytes, or raises: the log disables itself and never raises.
  for (int kind = 0; kind < 2; ++kind) {
    auto failing = MakeRef<TStreamLog>();
    Ref<TProbeStream> s = kind == 0 ? MakeRef<TProbeStream>() : Ref<TProbeStream>(MakeRef<TBrokenStream>());
    s->write_limit = 2;
    failing->SetStream(s.get(), false);
    EXPECT_NO_THROW(failing->WriteLine(u"first line"));
    EXPECT_TRUE(failing->Disabled());
    const size_t writes = s->writes.size();
    EXPECT_NO_THROW(failing->WriteLine(u"second line"));
    EXPECT_EQ(s->writes.size(), writes);
    failing->CloseStream();
  }
}

TEST(Log, ExclusiveLinesFromManyThreadsNeverMix) {
  auto log = MakeRef<TStreamLog>();
  auto mem = MakeRef<TMemoryStream>();
  log->SetStream(mem.get(), false);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 200; ++i) log->WriteLine(u"thread " + std::u16string(1, char16_t(u'A' + t)) + u" line");
    });
  for (auto& th : threads) th.join();
  std::string all = Contents(mem.get()).substr(3);
  size_t count = 0;
  for (size_t pos = 0; pos < all.size(); ++count) {
    const size_t end = all.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    const std::string line = all.substr(pos, end - pos);
    EXPECT_TRUE(line.size() == 13 && line.starts_with("thread ") && line.ends_with(" line")) << line;
    pos = end + 2;
  }
  EXPECT_EQ(count, 800u);
}

TEST(Log, FileLogAndBanners) {
  TTempFolder t;
  {
    auto log = MakeRef<TFileLog>(t.Wide("a.log"));
    log->WriteLine(u"one");
  }
  {
    auto log = MakeRef<TFileLog>(t.Wide("a.log"), true);
    log->WriteLine(u"two");
  }
  EXPECT_EQ(t.ReadFile("a.log"), "\xEF\xBB\xBF" "one\r\ntwo\r\n");
  {
    auto log = MakeRef<TFileLog>(t.Wide("a.log"));  // created anew
    log->WriteLine(u"three");
  }
  EXPECT_EQ(t.ReadFile("a.log"), "\xEF\xBB\xBF" "three\r\n");
  EXPECT_THROW(TFileLog(t.Wide("no/folder/x.log")), EFileOpenError);

  // The default file is named after the program.
  const std::u16string default_name = ChangeFileExt(GetProgramFileName(), u".log");
  ForceDeleteFile(default_name);
  { MakeRef<TFileLog>()->WriteLine(u"x"); }
  EXPECT_TRUE(FileExists(default_name));
  ForceDeleteFile(default_name);

  auto log = MakeRef<TLog>();
  TLines lines;
  lines.Attach(log.get());
  log->ShowTime = true;
  WriteStartBanner(log.get());
  WriteEndBanner(log.get());
  EXPECT_TRUE(log->ShowTime);  // restored
  ASSERT_EQ(lines.Items.size(), 9u);
  EXPECT_EQ(lines.Items[0], "");
  EXPECT_EQ(lines.Items[1], std::string(64, '='));
  EXPECT_EQ(lines.Items[2], "Program : " + UTF8Encode(GetProgramFileName()));
  const std::string date = "\1.\1.\1 \1:\1:\1.\1";
  EXPECT_TRUE(Shaped(lines.Items[3], "started : " + date)) << lines.Items[3];
  EXPECT_EQ(lines.Items[3].size(), 33u);  // DD.MM.YYYY hh:mm:ss.zzz
  EXPECT_EQ(lines.Items[4], std::string(64, '='));
  EXPECT_EQ(lines.Items[5], "");
  EXPECT_EQ(lines.Items[6], std::string(64, '-'));
  EXPECT_TRUE(Shaped(lines.Items[7], "Program stoped : " + date + " (work time : \1 ms)"))
      << lines.Items[7];
  EXPECT_EQ(lines.Items[8], std::string(64, '-'));
}

// Several players append to one log file at once, each through a log of its
// own (one file position each): every line lands whole at the end, lines
// longer than a stream's write pieces too; the byte-order mark stands once,
// at the start; and each writer's lines are all there, in its order.
TEST(Log, WritersAppendingToOneFileKeepEveryLineWhole) {
  TTempFolder t;
  const std::u16string path = t.Wide("shared.log");
  constexpr int kWriters = 4, kLines = 300;
  std::atomic<int> ready{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w)
    writers.emplace_back([&, w] {
      ++ready;
      while (ready.load() < kWriters) std::this_thread::yield();
      auto log = MakeRef<TFileLog>(path, true);
      log->Prefix = u"writer " + std::u16string(1, char16_t(u'0' + w)) + u": ";
      for (int i = 0; i < kLines; ++i)
        log->WriteLine(SystemUTF8ToWide(std::to_string(i)) + u" " + std::u16string(i % 3 ? 40 : 1500, char16_t(u'a' + w)));
      EXPECT_FALSE(log->Disabled());
    });
  for (auto& th : writers) th.join();

  const std::string all = t.ReadFile("shared.log");
  ASSERT_EQ(all.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(all.find("\xEF\xBB\xBF", 3), std::string::npos);
  int next[kWriters] = {};
  size_t count = 0;
  for (size_t pos = 3; pos < all.size(); ++count) {
    const size_t end = all.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos) << "a line without its end at " << pos;
    const std::string line = all.substr(pos, end - pos);
    pos = end + 2;
    // "writer W: I" and the filling of W's letter, 1500 long on every third line.
    const int w = line.size() > 8 ? line[7] - '0' : -1;
    ASSERT_TRUE(w >= 0 && w < kWriters && line.starts_with("writer " + std::to_string(w) + ": ")) << line.substr(0, 80);
    const int i = next[w]++;
    const std::string want = "writer " + std::to_string(w) + ": " + std::to_string(i) + " " +
                             std::string(i % 3 ? 40 : 1500, char('a' + w));
    ASSERT_TRUE(line == want) << "writer " << w << ", line " << i << ": " << line.substr(0, 60) << "... ("
                              << line.size() << " bytes)";
  }
  EXPECT_EQ(count, size_t(kWriters * kLines));
}

TEST(Log, GlobalLog) {
  Ref<TLog> first = GetGlobalLog();
  ASSERT_TRUE(first);
  auto log = MakeRef<TLog>();
  TLines lines;
  lines.Attach(log.get());
  SetGlobalLog(log);
  LogLine(u"hello");
  SetGlobalLog(log);  // the current log again: nothing changes
  EXPECT_EQ(GetGlobalLog(), log);
  LogLine(u"again");
  EXPECT_EQ(lines.Items, (std::vector<std::string>{"hello", "again"}));
  SetGlobalLog(nullptr);  // a plain log that discards lines
  EXPECT_NE(GetGlobalLog(), log);
  EXPECT_EQ(log->RefCount(), 1);
  LogLine(u"dropped");
  EXPECT_EQ(lines.Items.size(), 2u);
}
