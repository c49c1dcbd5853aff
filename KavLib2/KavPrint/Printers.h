// The printer: one global object that gives the print dialog a printer to
// print on. It knows the installed printers, the current one (the system's
// default until another is chosen), that printer's settings (orientation,
// copies), its page size and the document calls on its device context.
//
// Every refusal raises EPrinter with one of the texts below. GUI thread only.
// The system side is the installed print spooler (platform/print).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "VoRav/SysObj2.h"
#include "VoRav/wpTypes.h"
#include "VoRav/vxStrings.h"
#include "VoRav/wpExceptions.h"
#include "platform/print/PrintSpooler.h"

namespace kav {

class TFastDIB;

KAV_DECLARE_EXCEPTION(EPrinter, Exception);

// The program's texts for the printer's refusals.
inline constexpr char kSNotPrinting[] = "Printer is not currently printing";
inline constexpr char kSPrinting[] = "Printing in progress";
inline constexpr char kSInvalidPrinter[] = "Printer selected is not valid";
inline constexpr char kSDeviceOnPort[] = "%s on %s";
inline constexpr char kSInvalidPrinterOp[] = "Operation not supported on selected printer";
inline constexpr char kSNoDefaultPrinter[] = "There is no default printer currently selected";

enum class TPrinterOrientation : uint8_t { Portrait = 0, Landscape = 1 };

// Bits of TPrinter::Capabilities().
inline constexpr uint8_t kPrinterCapCopies = 1;
inline constexpr uint8_t kPrinterCapOrientation = 2;
inline constexpr uint8_t kPrinterCapCollation = 4;

// One entry of the printer list: the names the system knows the printer by
// (UTF-8).
class TPrinterDevice : public TRefObject {
 public:
  TPrinterDevice(std::string driver, std::string device, std::string port)
      : Driver(std::move(driver)), Device(std::move(device)), Port(std::move(port)) {}
  std::string Driver, Device, Port;
};

// A canvas's font as far as the printer keeps it: its size in points and
// the pixels per inch it is measured in.
struct TFont {
  int32_t PixelsPerInch = 96;
  int32_t Size = 9;
};

// A drawing surface over a device context. The plain canvas's font is
// measured at the screen's pixels per inch.
class TCanvas : public TRefObject {
 public:
  TCanvas();
  TFont& Font() noexcept { return font_; }
  // The device context drawn on; null while there is none.
  virtual print::TPrintDC* Handle() { return handle_; }
  void SetHandle(print::TPrintDC* dc) { handle_ = dc; }

 protected:
  print::TPrintDC* handle_ = nullptr;
  TFont font_;
};

class TPrinter;

// The printer's canvas: asking for its handle gives the printer's device
// context, making an information context when the printer has none; its
// font follows the context's pixels per inch.
class TPrinterCanvas : public TCanvas {
 public:
  explicit TPrinterCanvas(TPrinter* printer) : printer_(printer) {}
  print::TPrintDC* Handle() override;
  // Takes the printer's current context (after the printer changed it).
  void Refresh();
  // Draws the whole DIB (8, 24 or 32 bits a pixel) stretched into the
  // rectangle (x, y, w, h) of the page: answers the rows drawn, 0 when
  // nothing was drawn (no page, an empty or unsupported DIB).
  int32_t StretchDIB(int32_t x, int32_t y, int32_t w, int32_t h, TFastDIB* dib);

 private:
  TPrinter* printer_;
};

class TPrinter {
 public:
  TPrinter() = default;
  // Ends a document in progress, drops the context, closes the printer.
  ~TPrinter();
  TPrinter(const TPrinter&) = delete;
  TPrinter& operator=(const TPrinter&) = delete;

  // The installed printers by display name, each with its TPrinterDevice;
  // built on first use. Empty without printers.
  TStringList* Printers();
  // The current printer's index in Printers(); the system's default printer
  // is chosen when none is yet. Raises EPrinter (kSNoDefaultPrinter) when
  // there is no printer, EOSError when the system cannot say.
  int32_t PrinterIndex();
  // Makes the printer of that device (and port) current, adding it to the
  // list when it is not there, with the given settings (taken over; null:
  // the printer's own defaults). Refused while printing.
  void SetPrinter(const std::string& device, const std::string& driver, const std::string& port,
                  std::unique_ptr<print::TDeviceMode> mode);
  // The current printer's names and a copy of its settings (null when it
  // has none); chooses the default printer first when none is current.
  void GetPrinter(std::string& device, std::string& driver, std::string& port,
                  std::unique_ptr<print::TDeviceMode>& mode);

  // Orientation and copies of the current printer's settings: refused while
  // printing (setting) and without settings (kSInvalidPrinterOp).
  TPrinterOrientation Orientation();
  void SetOrientation(TPrinterOrientation orientation);
  int32_t Copies();
  void SetCopies(int32_t copies);

  // The printable area in device pixels.
  int32_t PageWidth();
  int32_t PageHeight();

  const std::string& Title() const noexcept { return title_; }
  void SetTitle(std::string title) { title_ = std::move(title); }

  // Starts a document (named by Title) with its first page.
  void BeginDoc();
  // Ends the page and the document (the system's end is skipped when the
  // document was aborted).
  void EndDoc();
  // Cancels the document: nothing is printed.
  void Abort();

  bool Printing() const noexcept { return printing_; }
  bool Aborted() const noexcept { return aborted_; }
  int32_t PageNumber() const noexcept { return page_number_; }
  uint8_t Capabilities() const noexcept { return capabilities_; }
  TPrinterCanvas* Canvas();
  // The device context (an information context when there was none).
  print::TPrintDC* Handle();

 private:
  enum class TState : uint8_t { None = 0, Info = 1, Device = 2 };
  friend class TPrinterCanvas;

  void SetState(TState state);
  void ChooseDefaultPrinter();
  void FreePrinters();
  void CheckPrinting(bool printing);
  // Chooses the default printer when none is, then requires settings.
  print::TDeviceMode& DeviceModeForChange();

  Ref<TPrinterCanvas> canvas_;
  Ref<TStringList> printers_;
  int32_t printer_index_ = -1;
  std::string title_;
  bool printing_ = false;
  bool aborted_ = false;
  uint8_t capabilities_ = 0;
  TState state_ = TState::None;
  std::unique_ptr<print::TPrintDC> dc_;
  std::unique_ptr<print::TDeviceMode> device_mode_;
  std::unique_ptr<print::TPrinterHandle> printer_handle_;
  int32_t page_number_ = 0;
};

// Where a picture of iw x ih (both positive) goes on a page of pw x ph:
// as high as the page unless that makes it wider than the page, then as
// wide; centred, halves truncated toward zero (64-bit products, truncated).
TRect PrintPlacement(int32_t iw, int32_t ih, int32_t pw, int32_t ph);

// The global printer, made on first call.
TPrinter* Printer();
// Frees the global printer (program end; tests start over with it).
void FreePrinter();

}  // namespace kav
