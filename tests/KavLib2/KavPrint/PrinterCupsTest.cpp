// The printer through CUPS, end to end: the test runs a CUPS scheduler of
// its own on the loopback address (a private configuration in a temporary
// folder, a free port) with one queue whose device is a small capture
// backend that keeps the document it receives and the job's options. A
// picture is printed as the print dialog prints it; the received PDF page is
// rasterised with pdftoppm and checked: page shape, where the picture lies
// and its pixels. Also: no printers, and an aborted document.
//
// Skips (with the reason) when cupsd, its helper or pdftoppm is missing.
#include <arpa/inet.h>
#include <cups/cups.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "KavLib2/KavPrint/Printers.h"
#include "VoRav/Graphics/FastDIB.h"
#include "platform/print/cups/CupsSpooler.h"
#include "tests/KavLib2/KavPrint/PrivateCups.h"

extern char** environ;

namespace kav {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace testcups;

// A picture of blocks of colour, cols x rows blocks of `block` pixels.
struct TBlocks {
  int32_t Cols, Rows, Block;
  uint32_t Color(int32_t col, int32_t row) const {
    static const uint32_t colors[] = {0xE02020, 0x20C040, 0x2040E0, 0xF0D000, 0x000000, 0x8040A0};
    return colors[(row * Cols + col) % 6];
  }
  Ref<TFastDIB> Dib() const {
    auto dib = MakeRef<TFastDIB>();
    dib->SetSize(Cols * Block, Rows * Block, 32);
    for (int32_t y = 0; y < Rows * Block; ++y) {
      uint8_t* row = dib->Row(dib->TopDown() ? y : Rows * Block - 1 - y);
      for (int32_t x = 0; x < Cols * Block; ++x) {
        const uint32_t c = Color(x / Block, y / Block);
        row[x * 4] = uint8_t(c);
        row[x * 4 + 1] = uint8_t(c >> 8);
        row[x * 4 + 2] = uint8_t(c >> 16);
        row[x * 4 + 3] = 255;
      }
    }
    return dib;
  }
};

struct TRaster {
  int32_t Width = 0, Height = 0;
  std::vector<uint8_t> Rgb;
  uint32_t At(int32_t x, int32_t y) const {
    const uint8_t* p = &Rgb[(size_t(y) * size_t(Width) + size_t(x)) * 3];
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  }
};

// The page rasterised by pdftoppm at `dpi` (binary PPM).
bool Rasterise(const fs::path& pdf, int32_t dpi, TRaster& raster, std::string& why) {
  const fs::path base = pdf.parent_path() / "raster";
  const pid_t pid =
      Spawn({FindProgram("pdftoppm"), "-r", std::to_string(dpi), "-singlefile", pdf.string(), base.string()},
            pdf.parent_path() / "pdftoppm.txt");
  if (pid <= 0 || WaitFor(pid, kTimeout / 2) != 0) {
    why = "pdftoppm failed: " + ReadFile(pdf.parent_path() / "pdftoppm.txt");
    return false;
  }
  std::ifstream in(base.string() + ".ppm", std::ios::binary);
  std::string magic;
  int max = 0;
  in >> magic >> raster.Width >> raster.Height >> max;
  in.get();
  if (magic != "P6" || max != 255 || raster.Width <= 0 || raster.Height <= 0) {
    why = "not a PPM";
    return false;
  }
  raster.Rgb.resize(size_t(raster.Width) * size_t(raster.Height) * 3);
  in.read(reinterpret_cast<char*>(raster.Rgb.data()), std::streamsize(raster.Rgb.size()));
  return bool(in);
}

bool Near(uint32_t a, uint32_t b, int tolerance) {
  for (int shift : {0, 8, 16})
    if (std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)) > tolerance) return false;
  return true;
}

// Compares the rasterised page with the picture placed at `box` (device
// pixels of the printable area, whose corner lies `offset_x`, `offset_y`
// raster pixels from the sheet's): every pixel more than 3 pixels from an
// edge of a block or of the picture must be the block's colour, or white
// outside the picture. Answers the first few mismatches.
std::string ComparePage(const TRaster& raster, const TBlocks& blocks, const TRect& box, int32_t offset_x,
                        int32_t offset_y) {
  std::string report;
  int mismatches = 0;
  auto edge_distance = [](double v, double start, double size, int32_t n) {
    double best = 1e9;
    for (int32_t i = 0; i <= n; ++i) best = std::min(best, std::abs(v - (start + size * i / n)));
    return best;
  };
  int checked_inside = 0, checked_outside = 0;
  for (int32_t y = 0; y < raster.Height; ++y) {
    for (int32_t x = 0; x < raster.Width; ++x) {
      const double dx = x + 0.5 - offset_x, dy = y + 0.5 - offset_y;
      const bool inside_x = dx > box.Left && dx<box.Right, inside_y = dy> box.Top && dy < box.Bottom;
      const double ex = edge_distance(dx, box.Left, box.Width(), blocks.Cols);
      const double ey = edge_distance(dy, box.Top, box.Height(), blocks.Rows);
      uint32_t expected;
      if (inside_x && inside_y) {
        if (ex < 3 || ey < 3) continue;
        expected = blocks.Color(int32_t((dx - box.Left) * blocks.Cols / box.Width()),
                                int32_t((dy - box.Top) * blocks.Rows / box.Height()));
        ++checked_inside;
      } else {
        const double ox = inside_x ? 0 : std::min(std::abs(dx - box.Left), std::abs(dx - box.Right));
        const double oy = inside_y ? 0 : std::min(std::abs(dy - box.Top), std::abs(dy - box.Bottom));
        if (std::max(ox, oy) < 3) continue;
        expected = 0xFFFFFF;
        ++checked_outside;
      }
      if (!Near(raster.At(x, y), expected, 8) && ++mismatches <= 5) {
        char line[96];
        std::snprintf(line, sizeof line, "(%d,%d) is %06X, expected %06X; ", x, y, raster.At(x, y), expected);
        report += line;
      }
    }
  }
  if (checked_inside == 0 || checked_outside == 0) report += "nothing checked inside or outside; ";
  if (mismatches) report += std::to_string(mismatches) + " pixels differ";
  return report;
}

uint32_t LastJobState(const char* queue) {
  cups_job_t* jobs = nullptr;
  const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue, 0, CUPS_WHICHJOBS_ALL);
  int best = -1;
  for (int i = 0; i < n; ++i)
    if (best < 0 || jobs[i].id > jobs[best].id) best = i;
  const uint32_t state = best < 0 ? 0 : uint32_t(jobs[best].state);
  cupsFreeJobs(n, jobs);
  return state;
}

class PrinterCupsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FreePrinter();
    previous_ = print::SetPrintSpooler(std::make_shared<print::TCupsSpooler>(60000));
  }
  void TearDown() override {
    FreePrinter();
    print::SetPrintSpooler(previous_);
  }

  // Prints the picture as the print dialog does; answers the page box the
  // picture was placed in (device pixels of the printable area).
  TRect PrintAsTheDialogDoes(TFastDIB* dib, int32_t copies) {
    TPrinter* printer = Printer();
    printer->SetOrientation(dib->Width() <= dib->RowCount() ? TPrinterOrientation::Portrait
                                                            : TPrinterOrientation::Landscape);
    printer->SetCopies(copies);
    printer->SetTitle("Slideshow");
    printer->BeginDoc();
    const TRect r = PrintPlacement(dib->Width(), dib->RowCount(), printer->PageWidth(), printer->PageHeight());
    EXPECT_EQ(printer->Canvas()->StretchDIB(r.Left, r.Top, r.Width(), r.Height(), dib), dib->RowCount());
    printer->EndDoc();
    return r;
  }

  std::shared_ptr<print::TPrintSpooler> previous_;
};

#define KAV_NEED_CUPS()                                                                     \
  do {                                                                                      \
    if (const std::string why = TPrivateCups::Missing(); !why.empty()) GTEST_SKIP() << why; \
  } while (0)

// The page a landscape picture arrives on, and the picture on it.
struct TExpectedPage {
  bool Landscape;
  int32_t OffsetX, OffsetY;  // printable area's corner, raster pixels
  int32_t PageWidth, PageHeight;
};

TExpectedPage Expected(bool landscape) {
  const auto px = [](int32_t hundredths) { return int32_t(int64_t(hundredths) * kDpi / 2540); };
  // In landscape the picture turns a quarter anticlockwise: its left margin
  // is the sheet's bottom one and its top margin the sheet's left one.
  if (landscape)
    return {true, px(kMarginEnd), px(kMarginSide), px(kSheetLength - 2 * kMarginEnd),
            px(kSheetWidth - 2 * kMarginSide)};
  return {false, px(kMarginSide), px(kMarginEnd), px(kSheetWidth - 2 * kMarginSide), px(kSheetLength - 2 * kMarginEnd)};
}

void PrintAndCheck(TPrivateCups& cups, const TBlocks& blocks, int32_t copies, bool landscape,
                   const std::function<TRect(TFastDIB*, int32_t)>& print) {
  const TExpectedPage page = Expected(landscape);
  Ref<TFastDIB> dib = blocks.Dib();
  const TRect box = print(dib.get(), copies);
  EXPECT_EQ(box, PrintPlacement(dib->Width(), dib->RowCount(), page.PageWidth, page.PageHeight));
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(cups.Page()); })) << cups.Log();

  // The job's options: the copies and the orientation of the device mode.
  std::stringstream options(ReadFile(cups.Page().string() + ".options"));
  std::string copies_line, options_line;
  std::getline(options, copies_line);
  std::getline(options, options_line);
  EXPECT_EQ(copies_line, std::to_string(copies));
  EXPECT_NE(options_line.find(landscape ? "orientation-requested=4" : "orientation-requested=3"), std::string::npos)
      << options_line;
  EXPECT_EQ(ReadFile(cups.Page()).substr(0, 5), "%PDF-");

  TRaster raster;
  std::string why;
  ASSERT_TRUE(Rasterise(cups.Page(), kDpi, raster, why)) << why;
  // KAV_DUMP_DIR=<folder> keeps the received page and its rasterisation.
  if (const char* dump = std::getenv("KAV_DUMP_DIR")) {
    const std::string name = landscape ? "print_landscape" : "print_portrait";
    std::error_code ec;
    fs::copy_file(cups.Page(), fs::path(dump) / (name + ".pdf"), fs::copy_options::overwrite_existing, ec);
    fs::copy_file(cups.Dir() / "raster.ppm", fs::path(dump) / (name + ".ppm"), fs::copy_options::overwrite_existing,
                  ec);
  }
  // The sheet in the page's shape: A5 at 100 dpi, turned in landscape.
  const int32_t sheet_w = int32_t(int64_t(landscape ? kSheetLength : kSheetWidth) * kDpi / 2540);
  const int32_t sheet_h = int32_t(int64_t(landscape ? kSheetWidth : kSheetLength) * kDpi / 2540);
  EXPECT_NEAR(raster.Width, sheet_w, 1);
  EXPECT_NEAR(raster.Height, sheet_h, 1);
  EXPECT_EQ(ComparePage(raster, blocks, box, page.OffsetX, page.OffsetY), "");
}

TEST_F(PrinterCupsTest, LandscapePictureFillsTheWidthOfALandscapePage) {
  KAV_NEED_CUPS();
  TPrivateCups cups(true);
  ASSERT_TRUE(cups.Ready()) << cups.Log();
  TPrinter* printer = Printer();
  ASSERT_EQ(printer->Printers()->Count(), 1);
  EXPECT_EQ(printer->Printers()->GetString(0), u"kavtest");
  EXPECT_EQ(printer->PrinterIndex(), 0);
  EXPECT_EQ(printer->Capabilities(), kPrinterCapCopies | kPrinterCapOrientation);
  // The default media and resolution, portrait then landscape.
  EXPECT_EQ(printer->PageWidth(), Expected(false).PageWidth);
  EXPECT_EQ(printer->PageHeight(), Expected(false).PageHeight);
  EXPECT_EQ(printer->Canvas()->Font().PixelsPerInch, kDpi);
  printer->SetOrientation(TPrinterOrientation::Landscape);
  EXPECT_EQ(printer->PageWidth(), Expected(true).PageWidth);
  EXPECT_EQ(printer->PageHeight(), Expected(true).PageHeight);

  PrintAndCheck(cups, TBlocks{3, 2, 80}, 2, true,
                [&](TFastDIB* dib, int32_t copies) { return PrintAsTheDialogDoes(dib, copies); });
}

TEST_F(PrinterCupsTest, PortraitPictureFillsTheHeightOfAPortraitPage) {
  KAV_NEED_CUPS();
  TPrivateCups cups(true);
  ASSERT_TRUE(cups.Ready()) << cups.Log();
  PrintAndCheck(cups, TBlocks{2, 3, 60}, 1, false,
                [&](TFastDIB* dib, int32_t copies) { return PrintAsTheDialogDoes(dib, copies); });
}

TEST_F(PrinterCupsTest, AbortedDocumentIsCancelledAndNeverArrives) {
  KAV_NEED_CUPS();
  TPrivateCups cups(true);
  ASSERT_TRUE(cups.Ready()) << cups.Log();
  TPrinter* printer = Printer();
  printer->SetTitle("Slideshow");
  printer->BeginDoc();
  Ref<TFastDIB> dib = TBlocks{2, 2, 40}.Dib();
  EXPECT_GT(printer->Canvas()->StretchDIB(0, 0, 200, 200, dib.get()), 0);
  printer->Abort();
  EXPECT_FALSE(printer->Printing());
  EXPECT_TRUE(WaitUntil([] { return LastJobState("kavtest") == IPP_JSTATE_CANCELED; })) << cups.Log();
  EXPECT_FALSE(fs::exists(cups.Page()));
  // The printer prints again afterwards.
  PrintAndCheck(cups, TBlocks{2, 3, 60}, 1, false,
                [&](TFastDIB* d, int32_t copies) { return PrintAsTheDialogDoes(d, copies); });
}

TEST_F(PrinterCupsTest, QueueRefusingJobsIsRaisedNotReportedAsPrinted) {
  KAV_NEED_CUPS();
  TPrivateCups cups(true, false);
  ASSERT_TRUE(cups.Ready()) << cups.Log();
  TPrinter* printer = Printer();
  printer->SetTitle("Slideshow");
  try {
    printer->BeginDoc();
    ADD_FAILURE() << "no EPrinter";
  } catch (const EPrinter& e) {
    EXPECT_EQ(e.Message(), "Printer selected is not valid");
  }
  EXPECT_FALSE(printer->Printing());
  EXPECT_GT(printer->PageWidth(), 0);  // the printer itself is still there
}

TEST_F(PrinterCupsTest, SchedulerWithoutPrintersHasNoDefaultPrinter) {
  KAV_NEED_CUPS();
  TPrivateCups cups(false);
  ASSERT_TRUE(cups.Ready()) << cups.Log();
  TPrinter* printer = Printer();
  EXPECT_EQ(printer->Printers()->Count(), 0);
  try {
    printer->SetOrientation(TPrinterOrientation::Portrait);
    ADD_FAILURE() << "no EPrinter";
  } catch (const EPrinter& e) {
    EXPECT_EQ(e.Message(), "There is no default printer currently selected");
  }
  EXPECT_THROW(printer->BeginDoc(), EPrinter);
  EXPECT_FALSE(printer->Printing());
}

// Runs wherever libcups is linked: a scheduler that is not there is a
// system without printers.
TEST_F(PrinterCupsTest, NoSchedulerMeansNoDefaultPrinter) {
  char templ[] = "/tmp/kavcups.XXXXXX";
  const fs::path home = mkdtemp(templ);
  TPrivateCups::PointClientAt(FreePort(), home);
  TPrinter* printer = Printer();
  EXPECT_EQ(printer->Printers()->Count(), 0);
  try {
    printer->BeginDoc();
    ADD_FAILURE() << "no EPrinter";
  } catch (const EPrinter& e) {
    EXPECT_EQ(e.Message(), "There is no default printer currently selected");
  }
  TPrivateCups::PointClientAt(0, {});
  fs::remove_all(home);
}

// A scheduler that takes connections and never answers (the connections
// wait in the listening socket's queue, never read): every call gives its
// error within the spooler's timeout instead of holding the caller.
TEST(CupsSpoolerSilentScheduler, EveryCallGivesUpWithinTheTimeout) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(listener, 64), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
  char templ[] = "/tmp/kavcups.XXXXXX";
  const fs::path home = mkdtemp(templ);
  TPrivateCups::PointClientAt(ntohs(a.sin_port), home);
  print::TCupsSpooler spooler(1000);
  // Generous for a loaded machine, far below the minutes libcups waits
  // on its own.
  const auto bound = 40s;
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(spooler.Printers().empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, bound);
  start = std::chrono::steady_clock::now();
  std::string name = "unchanged";
  spooler.DefaultPrinter(name);
  EXPECT_EQ(name, "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, bound);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(spooler.OpenPrinter("kavtest"), nullptr);
  EXPECT_EQ(spooler.CreateDC("kavtest", nullptr, false), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, bound);
  TPrivateCups::PointClientAt(0, {});
  close(listener);
  fs::remove_all(home);
}

// A person's request makes several calls; against a scheduler that never
// answers, or answers a byte at a time (every 2 s as a stalled one does, or
// every 0.1 s, faster than a wait's own time-out looks at the clock), all
// of them together end by the request's one deadline, each with its error.
// The spooler's own limit per call is far longer, so only the request's
// deadline can end them.
TEST(CupsSpoolerDeadline, ARequestsCallsEndTogetherByItsDeadline) {
  char templ[] = "/tmp/kavcups.XXXXXX";
  const fs::path home = mkdtemp(templ);
  const auto budget = 2s;
  // Generous for a loaded machine under ASan; far below what the calls take
  // without the deadline (for ever against the trickles).
  const auto slack = 6s;
  for (const auto every : {0ms, 2000ms, 100ms}) {
    SCOPED_TRACE("a byte every " + std::to_string(every.count()) + " ms (0: never)");
    TFakeScheduler scheduler(every);
    ASSERT_GT(scheduler.Port(), 0);
    TPrivateCups::PointClientAt(scheduler.Port(), home);
    print::TCupsSpooler spooler(600000);
    const auto start = std::chrono::steady_clock::now();
    {
      print::TPrintDeadline deadline(budget);
      EXPECT_TRUE(spooler.Printers().empty());
      std::string name = "unchanged";
      EXPECT_EQ(spooler.DefaultPrinter(name), ETIMEDOUT);
      EXPECT_EQ(name, "");
      EXPECT_EQ(spooler.OpenPrinter("kavtest"), nullptr);
      EXPECT_EQ(spooler.CreateDC("kavtest", nullptr, false), nullptr);
      EXPECT_TRUE(deadline.TimedOut());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, budget + slack);
    if (every.count() > 0) {
      EXPECT_GT(scheduler.Sent(), 0);  // it did answer, slowly
    }
    TPrivateCups::PointClientAt(0, {});
  }
  fs::remove_all(home);
}

// The print dialog's path through the printer object (the default printer,
// its settings, a document) ends by the request's deadline too, with the
// system's word that it timed out; the next request asks again.
TEST(CupsSpoolerDeadline, ThePrinterObjectGivesUpByTheDeadline) {
  char templ[] = "/tmp/kavcups.XXXXXX";
  const fs::path home = mkdtemp(templ);
  TFakeScheduler scheduler(100ms);
  TPrivateCups::PointClientAt(scheduler.Port(), home);
  auto previous = print::SetPrintSpooler(std::make_shared<print::TCupsSpooler>(600000));
  FreePrinter();
  const auto start = std::chrono::steady_clock::now();
  {
    print::TPrintDeadline deadline(2s);
    TPrinter* printer = Printer();
    try {
      printer->SetOrientation(TPrinterOrientation::Landscape);
      printer->BeginDoc();
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_TRUE(deadline.TimedOut()) << e.what();
    }
    EXPECT_FALSE(printer->Printing());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
  FreePrinter();
  print::SetPrintSpooler(previous);
  TPrivateCups::PointClientAt(0, {});
  fs::remove_all(home);
}

// A queue whose default media CUPS finds no entry for is read by the
// default's name, not taken for A4.
TEST(CupsMedia, TheDefaultIsReadByItsName) {
  int32_t w = 0, l = 0;
  ASSERT_TRUE(print::MediaSizeByName("na_letter", w, l));
  EXPECT_EQ(w, 21590);
  EXPECT_EQ(l, 27940);
  for (const char* letter : {"na_letter_8.5x11in", "na-letter", "Letter"}) {
    w = l = 0;
    EXPECT_TRUE(print::MediaSizeByName(letter, w, l) && w == 21590 && l == 27940) << letter;
  }
  EXPECT_TRUE(print::MediaSizeByName("iso_a5", w, l) && w == 14800 && l == 21000);
  EXPECT_FALSE(print::MediaSizeByName("bogus", w, l));
  EXPECT_FALSE(print::MediaSizeByName("", w, l));

  cups_dest_t dest{};
  // The queue's only media, its default.
  ASSERT_TRUE(print::DefaultMediaSize(dest, "na_letter", w, l));
  EXPECT_EQ(w, 21590);
  EXPECT_FALSE(print::DefaultMediaSize(dest, nullptr, w, l));
  EXPECT_FALSE(print::DefaultMediaSize(dest, "bogus", w, l));
  // The person's own choice (lpoptions) comes first; a default among the
  // destination's options serves when the queue gives none.
  dest.num_options = cupsAddOption("media-default", "iso_a4_210x297mm", dest.num_options, &dest.options);
  ASSERT_TRUE(print::DefaultMediaSize(dest, nullptr, w, l));
  EXPECT_EQ(w, 21000);
  dest.num_options = cupsAddOption("media", "na_legal_8.5x14in", dest.num_options, &dest.options);
  ASSERT_TRUE(print::DefaultMediaSize(dest, "na_letter", w, l));
  EXPECT_EQ(l, 35560);
  cupsFreeOptions(dest.num_options, dest.options);
}

}  // namespace
}  // namespace kav
