// The CUPS print backend. Printers are the CUPS destinations (a name with an
// instance is "name/instance"); the default printer is the destination CUPS
// names as default (PRINTER or LPDEST, lpoptions, the server's default).
//
// Every call ends by a deadline, the earlier of the spooler's timeout and
// the caller's TPrintDeadline, however the scheduler answers (not at all,
// or a byte now and then): it then gives an error (no printers, no default
// or ETIMEDOUT, no context) instead of holding the window.
//
// A device context reads the destination's default media (size and
// margins; by its name when CUPS finds no entry for it among the queue's
// media, with no margins) and resolution: the printable area at that resolution is what the
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

struct cups_dest_s;

namespace kav::print {

class TCupsSpooler : public TPrintSpooler {
 public:
  // `timeout_ms`: how long one call (connecting and every wait for the
  // scheduler's answer) may take in all.
  explicit TCupsSpooler(int32_t timeout_ms = 5000) : timeout_ms_(timeout_ms) {}

  std::vector<std::string> Printers() override;
  int32_t DefaultPrinter(std::string& name) override;
  std::unique_ptr<TPrinterHandle> OpenPrinter(const std::string& name) override;
  std::unique_ptr<TPrintDC> CreateDC(const std::string& name, const TDeviceMode* mode, bool information) override;

 private:
  int32_t timeout_ms_;
};

// The size of a media name in hundredths of a millimetre: a PWG name
// ("iso_a4_210x297mm"), an IPP legacy name ("na-letter"), a PPD name
// ("Letter"), or a PWG name without its dimensions ("na_letter"). False for
// a name none of these knows.
bool MediaSizeByName(const std::string& name, int32_t& width, int32_t& length);

// The default media's size by name, for a queue whose default CUPS finds no
// entry for: the destination's "media" option (lpoptions), else
// `queue_default` (the queue's "media-default", may be null), else a
// "media-default" among the destination's options. False when none names a
// known size.
bool DefaultMediaSize(const cups_dest_s& dest, const char* queue_default, int32_t& width, int32_t& length);

}  // namespace kav::print
