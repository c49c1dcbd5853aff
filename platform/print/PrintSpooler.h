// The print service: the installed printers, the default printer, a
// printer's default settings and device contexts that print documents.
//
// One spooler runs per process; start-up installs it (SetPrintSpooler) and
// nothing else knows which backend runs. The fake backend (fake/) answers
// printers configured by the caller and records every document call (tests;
// the default, which knows no printer); the CUPS backend (cups/) asks the
// CUPS destinations and sends each document as a PDF job.
//
// Threads: a spooler and the contexts it makes are used from one thread at a
// time (the GUI thread); nothing here locks.
//
// Deadlines: a person's request (print the slide, list the printers for a
// choice, take the choice) makes several calls in a row. A TPrintDeadline
// alive on the calling thread gives all of them one deadline: a backend
// that waits for the system ends every wait by then, however the system
// answers (not at all, or a byte at a time), and the calls fail.
//
// This library uses nothing of the rest of the system.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <vector>

namespace kav::print {

// Bits of TDeviceMode::Fields: which settings the printer takes.
inline constexpr uint32_t kFieldOrientation = 0x1;
inline constexpr uint32_t kFieldCollate = 0x8000;
inline constexpr uint32_t kFieldCopies = 0x100;

// Values of TDeviceMode::Orientation.
inline constexpr int16_t kOrientPortrait = 1;
inline constexpr int16_t kOrientLandscape = 2;

// The settings a document is printed with.
struct TDeviceMode {
  uint32_t Fields = 0;
  int16_t Orientation = kOrientPortrait;
  int16_t Copies = 1;
  int16_t Collate = 0;  // 1 collated copies
  friend bool operator==(const TDeviceMode&, const TDeviceMode&) = default;
};

// Indexes of TPrintDC::DeviceCaps.
inline constexpr int32_t kHorzRes = 8;          // printable width in device pixels
inline constexpr int32_t kVertRes = 10;         // printable height in device pixels
inline constexpr int32_t kLogPixelsX = 88;      // device pixels per inch across
inline constexpr int32_t kLogPixelsY = 90;      // device pixels per inch down
inline constexpr int32_t kPhysicalWidth = 110;  // sheet width in device pixels
inline constexpr int32_t kPhysicalHeight = 111;
inline constexpr int32_t kPhysicalOffsetX = 112;  // left edge of the printable area
inline constexpr int32_t kPhysicalOffsetY = 113;  // top edge of the printable area

// Error codes of TPrintSpooler::DefaultPrinter.
inline constexpr int32_t kErrorNone = 0;
inline constexpr int32_t kErrorInvalidName = 123;  // the system names an unknown printer

// A picture for StretchDIBits: 32-bit pixels in the order blue, green, red,
// unused, rows from the top. Not owned.
struct TPrintPixels {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Stride = 0;  // bytes from one row to the next
  const uint8_t* Bits = nullptr;
};

// A printer device context. An information context answers DeviceCaps only;
// a device context also prints one document at a time: StartDoc, then pages
// (StartPage, StretchDIBits..., EndPage), then EndDoc or AbortDoc.
class TPrintDC {
 public:
  TPrintDC() = default;
  virtual ~TPrintDC() = default;
  TPrintDC(const TPrintDC&) = delete;
  TPrintDC& operator=(const TPrintDC&) = delete;

  // One of the k... indexes above; 0 for any other index.
  virtual int32_t DeviceCaps(int32_t index) const = 0;
  // The procedure asked while the document's data goes out; answering false
  // stops sending (the document is then aborted). May be empty.
  virtual void SetAbortProc(std::function<bool()> proc) = 0;
  // Starts a document named `title` (UTF-8): answers the job's id (> 0), or
  // <= 0 when the printer refuses (an information context always does).
  virtual int32_t StartDoc(const std::string& title) = 0;
  // Page and document calls: > 0 on success, <= 0 on failure (also when
  // called out of order). EndDoc hands the document to the printer; AbortDoc
  // cancels it and nothing is printed.
  virtual int32_t StartPage() = 0;
  virtual int32_t EndPage() = 0;
  virtual int32_t EndDoc() = 0;
  virtual int32_t AbortDoc() = 0;
  // Draws the part (sx, sy, sw, sh) of `src` stretched into the device
  // rectangle (x, y, w, h) of the current page. Answers the rows drawn (sh),
  // or 0 when nothing was drawn: no page started, sizes not positive, the
  // part outside the picture.
  virtual int32_t StretchDIBits(int32_t x, int32_t y, int32_t w, int32_t h, const TPrintPixels& src, int32_t sx,
                                int32_t sy, int32_t sw, int32_t sh) = 0;
};

// An opened printer.
class TPrinterHandle {
 public:
  TPrinterHandle() = default;
  virtual ~TPrinterHandle() = default;
  TPrinterHandle(const TPrinterHandle&) = delete;
  TPrinterHandle& operator=(const TPrinterHandle&) = delete;

  // The printer's default settings; false when the printer cannot be asked.
  virtual bool DefaultDeviceMode(TDeviceMode& mode) = 0;
};

class TPrintSpooler {
 public:
  TPrintSpooler() = default;
  virtual ~TPrintSpooler() = default;
  TPrintSpooler(const TPrintSpooler&) = delete;
  TPrintSpooler& operator=(const TPrintSpooler&) = delete;

  // The names (UTF-8) of the printers this user can print on, in the
  // system's order; empty when there are none or the system cannot be asked.
  virtual std::vector<std::string> Printers() = 0;
  // The system's default printer: kErrorNone with its name, or with an
  // empty name when the system names none; another code (kErrorInvalidName,
  // or an errno value) when the system could not answer.
  virtual int32_t DefaultPrinter(std::string& name) = 0;
  // Opens the printer of that name; null when there is none.
  virtual std::unique_ptr<TPrinterHandle> OpenPrinter(const std::string& name) = 0;
  // A device context (`information` false) or an information context for
  // the printer of that name with the given settings (null: its defaults);
  // null when the printer is unknown or cannot be reached.
  virtual std::unique_ptr<TPrintDC> CreateDC(const std::string& name, const TDeviceMode* mode, bool information) = 0;
};

// One deadline for every call to the print system that the current thread
// makes while it lives; nested ones keep the earlier deadline.
class TPrintDeadline {
 public:
  using TClock = std::chrono::steady_clock;
  explicit TPrintDeadline(std::chrono::milliseconds budget);
  ~TPrintDeadline();
  TPrintDeadline(const TPrintDeadline&) = delete;
  TPrintDeadline& operator=(const TPrintDeadline&) = delete;
  TClock::time_point Deadline() const { return deadline_; }
  // A call under it ran out of time (this deadline or the backend's own
  // limit for one call), or the deadline has come: a failure then may be
  // the system's silence rather than its answer.
  bool TimedOut() const { return timed_out_ || TClock::now() >= deadline_; }

 private:
  friend void NotePrintCallTimedOut();
  TClock::time_point deadline_;
  TPrintDeadline* outer_;
  bool timed_out_ = false;
};

// The deadline of the TPrintDeadline alive on this thread; none without one.
std::optional<TPrintDeadline::TClock::time_point> CurrentPrintDeadline();
// A backend's call ran out of time: the TPrintDeadlines alive on this
// thread learn it.
void NotePrintCallTimedOut();

// The installed spooler; the fake backend without printers until start-up
// installs another. Never null.
std::shared_ptr<TPrintSpooler> PrintSpooler();
// Installs a spooler (null restores the default one); answers the previous
// one. Meant for start-up and tests.
std::shared_ptr<TPrintSpooler> SetPrintSpooler(std::shared_ptr<TPrintSpooler> spooler);

}  // namespace kav::print
