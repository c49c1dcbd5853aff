// The CUPS print backend. Printers are the CUPS destinations (a name with an
// instance is "name/instance"); the default printer is the destination CUPS
// names as default (PRINTER or LPDEST, lpoptions, the server's default).
//
// A device context reads the destination's default media (size and
// margins) and resolution: the printable area at that resolution is what the
// context reports, turned round in landscape. A document becomes one CUPS
// job whose options carry the device mode's copies and orientation; its
// pages are PDF pages of the media's size (landscape pages in landscape)
// drawn with cairo and streamed to the job as they are made. AbortDoc
// cancels the job.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/print/PrintSpooler.h"

namespace kav::print {

class TCupsSpooler : public TPrintSpooler {
 public:
  // `timeout_ms`: how long connecting to a destination may take.
  explicit TCupsSpooler(int32_t timeout_ms = 30000) : timeout_ms_(timeout_ms) {}

  std::vector<std::string> Printers() override;
  int32_t DefaultPrinter(std::string& name) override;
  std::unique_ptr<TPrinterHandle> OpenPrinter(const std::string& name) override;
  std::unique_ptr<TPrintDC> CreateDC(const std::string& name, const TDeviceMode* mode, bool information) override;

 private:
  int32_t timeout_ms_;
};

}  // namespace kav::print
