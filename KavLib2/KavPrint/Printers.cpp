#include "KavLib2/KavPrint/Printers.h"

#include <cstdio>
#include <vector>

#include "VoRav/Graphics/FastDIB.h"
#include "VoRav/Win32/winScreen.h"
#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

[[noreturn]] void RaiseError(const char* text) { throw EPrinter(text); }

std::string DeviceOnPort(const std::string& device, const std::string& port) {
  std::vector<char> buffer(device.size() + port.size() + sizeof kSDeviceOnPort);
  std::snprintf(buffer.data(), buffer.size(), kSDeviceOnPort, device.c_str(), port.c_str());
  return buffer.data();
}

// Equal without regard to case. Departure: only ASCII letters are folded
// (the names are UTF-8 here, not text of one ANSI code page).
bool SameNameIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

int32_t ScreenPixelsPerInch() {
  // Read once, when the canvas is first used.
  static const int32_t dpi = [] {
    int32_t x = 96, y = 96;
    GetScreenDpi(x, y);
    return y > 0 ? y : 96;
  }();
  return dpi;
}

std::unique_ptr<TPrinter> g_printer;

}  // namespace

// --- canvas ---------------------------------------------------------------

TCanvas::TCanvas() { font_.PixelsPerInch = ScreenPixelsPerInch(); }

print::TPrintDC* TPrinterCanvas::Handle() {
  if (!handle_) printer_->SetState(TPrinter::TState::Info);
  return handle_;
}

void TPrinterCanvas::Refresh() {
  handle_ = printer_->dc_.get();
  if (handle_) font_.PixelsPerInch = handle_->DeviceCaps(print::kLogPixelsY);
}

int32_t TPrinterCanvas::StretchDIB(int32_t x, int32_t y, int32_t w, int32_t h, TFastDIB* dib) {
  print::TPrintDC* dc = Handle();
  if (!dc || !dib || dib->Width() < 1 || dib->RowCount() < 1) return 0;
  const int32_t width = dib->Width();
  const int32_t height = dib->RowCount();
  const int32_t bits = dib->BitCount();
  if (bits != 8 && bits != 24 && bits != 32) return 0;
  // The context takes 32-bit rows from the top: the DIB's rows are turned
  // into that form (bottom-up rows reversed, 24 and 8 bits widened).
  std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4);
  for (int32_t r = 0; r < height; ++r) {
    const uint8_t* s = dib->Row(dib->TopDown() ? r : height - 1 - r);
    uint8_t* d = pixels.data() + size_t(r) * size_t(width) * 4;
    for (int32_t c = 0; c < width; ++c, d += 4) {
      if (bits == 32) {
        d[0] = s[c * 4];
        d[1] = s[c * 4 + 1];
        d[2] = s[c * 4 + 2];
      } else if (bits == 24) {
        d[0] = s[c * 3];
        d[1] = s[c * 3 + 1];
        d[2] = s[c * 3 + 2];
      } else {
        const uint32_t color = dib->Colors()[s[c]];
        d[0] = uint8_t(color);
        d[1] = uint8_t(color >> 8);
        d[2] = uint8_t(color >> 16);
      }
      d[3] = 0;
    }
  }
  const print::TPrintPixels src{width, height, width * 4, pixels.data()};
  return dc->StretchDIBits(x, y, w, h, src, 0, 0, width, height);
}

// --- printer ----------------------------------------------------------------

TPrinter::~TPrinter() {
  try {
    if (printing_) EndDoc();
  } catch (const Exception&) {
    // A document the system no longer takes is dropped with the printer.
  }
  printing_ = false;
  if (canvas_) canvas_->SetHandle(nullptr);
  dc_.reset();
  state_ = TState::None;
  FreePrinters();
  canvas_ = nullptr;
  printer_handle_.reset();
  device_mode_.reset();
}

void TPrinter::FreePrinters() {
  if (printers_) printers_->ClearObjects(true);
  printers_ = nullptr;
}

void TPrinter::CheckPrinting(bool printing) {
  if (printing_ != printing) RaiseError(printing ? kSNotPrinting : kSPrinting);
}

TStringList* TPrinter::Printers() {
  if (!printers_) {
    printers_ = MakeRef<TStringList>();
    // Each printer under its own name, with that name as its device.
    for (const std::string& name : print::PrintSpooler()->Printers())
      printers_->AddObject(SystemUTF8ToWide(name), new TPrinterDevice(std::string(), name, std::string()));
  }
  return printers_.get();
}

void TPrinter::ChooseDefaultPrinter() {
  std::string device;
  const int32_t error = print::PrintSpooler()->DefaultPrinter(device);
  if (error == print::kErrorInvalidName) RaiseError(kSNoDefaultPrinter);
  if (error != print::kErrorNone) RaiseOSError(error);
  // The system's older record of the default device ("device,driver,port")
  // is the same CUPS default here, so a printer without a name stays
  // without one.
  if (const size_t comma = device.find(','); comma != std::string::npos) device.resize(comma);
  TStringList* list = Printers();
  for (int32_t i = 0; i < list->Count(); ++i) {
    auto* entry = static_cast<TPrinterDevice*>(list->GetObject(i));
    if (entry && SameNameIgnoreCase(entry->Device, device)) {
      SetPrinter(entry->Device, entry->Driver, entry->Port, nullptr);
      return;
    }
  }
  if (list->Count() == 0) RaiseError(kSNoDefaultPrinter);
  auto* last = static_cast<TPrinterDevice*>(list->GetObject(list->Count() - 1));
  SetPrinter(last->Device, last->Driver, last->Port, nullptr);
}

int32_t TPrinter::PrinterIndex() {
  if (printer_index_ == -1) ChooseDefaultPrinter();
  return printer_index_;
}

void TPrinter::SetPrinter(const std::string& device, const std::string& driver, const std::string& port,
                          std::unique_ptr<print::TDeviceMode> mode) {
  CheckPrinting(false);
  device_mode_ = std::move(mode);
  capabilities_ = 0;
  printer_handle_.reset();
  SetState(TState::None);
  TStringList* list = Printers();
  printer_index_ = -1;
  for (int32_t i = 0; i < list->Count(); ++i) {
    auto* entry = static_cast<TPrinterDevice*>(list->GetObject(i));
    if (entry && entry->Device == device && (entry->Port.empty() || entry->Port == port)) {
      printer_index_ = i;
      break;
    }
  }
  if (printer_index_ == -1)
    printer_index_ =
        list->AddObject(SystemUTF8ToWide(DeviceOnPort(device, port)), new TPrinterDevice(driver, device, port));
  printer_handle_ = print::PrintSpooler()->OpenPrinter(device);
  if (!device_mode_ && printer_handle_) {
    auto fetched = std::make_unique<print::TDeviceMode>();
    if (printer_handle_->DefaultDeviceMode(*fetched)) device_mode_ = std::move(fetched);
  }
  if (device_mode_) {
    const uint32_t fields = device_mode_->Fields;
    if (fields & print::kFieldCopies) capabilities_ |= kPrinterCapCopies;
    if (fields & print::kFieldOrientation) capabilities_ |= kPrinterCapOrientation;
    if (fields & print::kFieldCollate) capabilities_ |= kPrinterCapCollation;
  }
}

void TPrinter::GetPrinter(std::string& device, std::string& driver, std::string& port,
                          std::unique_ptr<print::TDeviceMode>& mode) {
  const int32_t index = PrinterIndex();
  auto* entry = static_cast<TPrinterDevice*>(Printers()->GetObject(index));
  device = entry->Device;
  driver = entry->Driver;
  port = entry->Port;
  mode = device_mode_ ? std::make_unique<print::TDeviceMode>(*device_mode_) : nullptr;
}

print::TDeviceMode& TPrinter::DeviceModeForChange() {
  PrinterIndex();
  if (!device_mode_) RaiseError(kSInvalidPrinterOp);
  return *device_mode_;
}

TPrinterOrientation TPrinter::Orientation() {
  return DeviceModeForChange().Orientation == print::kOrientLandscape ? TPrinterOrientation::Landscape
                                                                      : TPrinterOrientation::Portrait;
}

void TPrinter::SetOrientation(TPrinterOrientation orientation) {
  CheckPrinting(false);
  print::TDeviceMode& mode = DeviceModeForChange();
  SetState(TState::None);
  mode.Orientation = orientation == TPrinterOrientation::Landscape ? print::kOrientLandscape : print::kOrientPortrait;
}

int32_t TPrinter::Copies() { return DeviceModeForChange().Copies; }

void TPrinter::SetCopies(int32_t copies) {
  CheckPrinting(false);
  print::TDeviceMode& mode = DeviceModeForChange();
  SetState(TState::None);
  mode.Copies = int16_t(copies);
}

void TPrinter::SetState(TState state) {
  if (state == state_) return;
  if (state == TState::None) {
    CheckPrinting(false);
    if (canvas_) canvas_->SetHandle(nullptr);
    dc_.reset();
    state_ = TState::None;
    return;
  }
  if (state == TState::Info && state_ == TState::Device) return;
  auto* entry = static_cast<TPrinterDevice*>(Printers()->GetObject(PrinterIndex()));
  if (canvas_) canvas_->SetHandle(nullptr);
  dc_.reset();
  state_ = TState::None;
  dc_ = print::PrintSpooler()->CreateDC(entry->Device, device_mode_.get(), state == TState::Info);
  if (!dc_) RaiseError(kSInvalidPrinter);
  state_ = state;
  if (canvas_) canvas_->Refresh();
}

TPrinterCanvas* TPrinter::Canvas() {
  if (!canvas_) {
    canvas_ = MakeRef<TPrinterCanvas>(this);
    canvas_->Refresh();
  }
  return canvas_.get();
}

print::TPrintDC* TPrinter::Handle() {
  SetState(TState::Info);
  return dc_.get();
}

int32_t TPrinter::PageWidth() { return Handle()->DeviceCaps(print::kHorzRes); }

int32_t TPrinter::PageHeight() { return Handle()->DeviceCaps(print::kVertRes); }

void TPrinter::BeginDoc() {
  CheckPrinting(false);
  SetState(TState::Device);
  Canvas()->Refresh();
  printing_ = true;
  aborted_ = false;
  page_number_ = 1;
  dc_->SetAbortProc([this] { return !aborted_; });
  // Departure: the system's refusal to start the document is raised rather
  // than ignored, so that a document that never started is not printed "as
  // if" (the printer is left idle).
  if (dc_->StartDoc(title_) <= 0 || dc_->StartPage() <= 0) {
    if (dc_->AbortDoc() <= 0) {
      // Nothing was started that could be cancelled.
    }
    printing_ = false;
    page_number_ = 0;
    RaiseError(kSInvalidPrinter);
  }
}

void TPrinter::EndDoc() {
  CheckPrinting(true);
  const bool end_page = dc_->EndPage() > 0;
  bool ended = true;
  if (!aborted_) ended = dc_->EndDoc() > 0 && end_page;
  printing_ = false;
  aborted_ = false;
  page_number_ = 0;
  // Departure: a document the system did not take is raised rather than
  // reported as printed.
  if (!ended) RaiseError(kSInvalidPrinter);
}

void TPrinter::Abort() {
  CheckPrinting(true);
  dc_->AbortDoc();
  aborted_ = true;
  EndDoc();
}

TRect PrintPlacement(int32_t iw, int32_t ih, int32_t pw, int32_t ph) {
  int64_t w = int64_t(iw) * ph / ih;
  int64_t h = ph;
  if (w >= pw) {
    w = pw;
    h = int64_t(ih) * pw / iw;
  }
  const int32_t x = int32_t((pw - w) / 2);
  const int32_t y = int32_t((ph - h) / 2);
  return TRect{x, y, int32_t(x + w), int32_t(y + h)};
}

TPrinter* Printer() {
  if (!g_printer) g_printer = std::make_unique<TPrinter>();
  return g_printer.get();
}

void FreePrinter() { g_printer.reset(); }

}  // namespace kav
