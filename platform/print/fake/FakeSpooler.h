// The fake print backend: printers configured by the caller, every call a
// context receives written to a shared call log. It is the default spooler
// (configured with no printer: a system without printers) and the one the
// unit tests use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/print/PrintSpooler.h"

namespace kav::print {

struct TFakePrinter {
  std::string Name;
  bool HasDeviceMode = true;  // false: DefaultDeviceMode fails
  TDeviceMode Mode{kFieldOrientation | kFieldCopies, kOrientPortrait, 1, 0};
  // Printable area in portrait at Dpi (A4 at 300 dpi less 1/6 inch margins).
  int32_t Width = 2380;
  int32_t Height = 3408;
  int32_t Dpi = 300;
  bool Reachable = true;  // false: CreateDC fails
};

class TFakeSpooler : public TPrintSpooler {
 public:
  std::vector<TFakePrinter> PrinterList;
  std::string Default;          // the system's default printer's name
  int32_t DefaultError = kErrorNone;
  bool FailStartDoc = false;
  bool FailStretch = false;
  bool FailEndDoc = false;
  // One line per call of a context: "CreateDC <name> dc|ic <orientation>
  // <copies>", "SetAbortProc", "StartDoc <title>", "StartPage",
  // "StretchDIBits <x> <y> <w> <h> <src w>x<src h>", "EndPage", "EndDoc",
  // "AbortDoc", "DeleteDC"; and "OpenPrinter <name>", "ClosePrinter".
  std::shared_ptr<std::vector<std::string>> Calls = std::make_shared<std::vector<std::string>>();
  // The part of the picture the last successful StretchDIBits drew, one
  // 0x00RRGGBB value a pixel, rows from the top.
  std::shared_ptr<std::vector<uint32_t>> LastPicture = std::make_shared<std::vector<uint32_t>>();

  std::vector<std::string> Printers() override;
  int32_t DefaultPrinter(std::string& name) override;
  std::unique_ptr<TPrinterHandle> OpenPrinter(const std::string& name) override;
  std::unique_ptr<TPrintDC> CreateDC(const std::string& name, const TDeviceMode* mode, bool information) override;

 private:
  const TFakePrinter* Find(const std::string& name) const;
};

}  // namespace kav::print
