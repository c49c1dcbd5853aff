#include "platform/print/fake/FakeSpooler.h"

#include <utility>

namespace kav::print {

namespace {

class TFakePrinterHandle : public TPrinterHandle {
 public:
  TFakePrinterHandle(const TFakePrinter& printer, std::shared_ptr<std::vector<std::string>> calls)
      : printer_(printer), calls_(std::move(calls)) {}
  ~TFakePrinterHandle() override { calls_->push_back("ClosePrinter"); }

  bool DefaultDeviceMode(TDeviceMode& mode) override {
    if (!printer_.HasDeviceMode) return false;
    mode = printer_.Mode;
    return true;
  }

 private:
  TFakePrinter printer_;
  std::shared_ptr<std::vector<std::string>> calls_;
};

class TFakeDC : public TPrintDC {
 public:
  TFakeDC(const TFakePrinter& printer, const TFakeSpooler& spooler, const TDeviceMode& mode, bool information)
      : printer_(printer),
        calls_(spooler.Calls),
        picture_(spooler.LastPicture),
        mode_(mode),
        information_(information),
        fail_start_(spooler.FailStartDoc),
        fail_stretch_(spooler.FailStretch),
        fail_end_(spooler.FailEndDoc) {}
  ~TFakeDC() override { calls_->push_back("DeleteDC"); }

  int32_t DeviceCaps(int32_t index) const override {
    const bool landscape = mode_.Orientation == kOrientLandscape;
    switch (index) {
      case kHorzRes:
        return landscape ? printer_.Height : printer_.Width;
      case kVertRes:
        return landscape ? printer_.Width : printer_.Height;
      case kLogPixelsX:
      case kLogPixelsY:
        return printer_.Dpi;
      default:
        return 0;
    }
  }

  void SetAbortProc(std::function<bool()> proc) override {
    calls_->push_back("SetAbortProc");
    abort_proc_ = std::move(proc);
  }

  int32_t StartDoc(const std::string& title) override {
    calls_->push_back("StartDoc " + title);
    if (information_ || fail_start_ || in_doc_) return -1;
    in_doc_ = true;
    return 1;
  }
  int32_t StartPage() override {
    calls_->push_back("StartPage");
    if (!in_doc_ || in_page_) return -1;
    in_page_ = true;
    return 1;
  }
  int32_t EndPage() override {
    calls_->push_back("EndPage");
    if (!in_page_) return -1;
    in_page_ = false;
    return 1;
  }
  int32_t EndDoc() override {
    calls_->push_back("EndDoc");
    if (!in_doc_) return -1;
    in_doc_ = in_page_ = false;
    if (abort_proc_ && !abort_proc_()) {
      calls_->push_back("AbortProc stop");
      return -1;
    }
    return fail_end_ ? -1 : 1;
  }
  int32_t AbortDoc() override {
    calls_->push_back("AbortDoc");
    if (!in_doc_) return -1;
    in_doc_ = in_page_ = false;
    return 1;
  }
  int32_t StretchDIBits(int32_t x, int32_t y, int32_t w, int32_t h, const TPrintPixels& src, int32_t sx, int32_t sy,
                        int32_t sw, int32_t sh) override {
    calls_->push_back("StretchDIBits " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(w) + " " +
                      std::to_string(h) + " " + std::to_string(src.Width) + "x" + std::to_string(src.Height));
    if (!in_page_ || fail_stretch_ || w <= 0 || h <= 0 || sw <= 0 || sh <= 0 || sx < 0 || sy < 0 ||
        int64_t(sx) + sw > src.Width || int64_t(sy) + sh > src.Height)
      return 0;
    picture_->clear();
    for (int32_t r = sy; r < sy + sh; ++r) {
      const uint8_t* p = src.Bits + size_t(r) * size_t(src.Stride) + size_t(sx) * 4;
      for (int32_t c = 0; c < sw; ++c, p += 4)
        picture_->push_back(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16);
    }
    return sh;
  }

 private:
  TFakePrinter printer_;
  std::shared_ptr<std::vector<std::string>> calls_;
  std::shared_ptr<std::vector<uint32_t>> picture_;
  TDeviceMode mode_;
  bool information_;
  bool fail_start_, fail_stretch_, fail_end_;
  bool in_doc_ = false;
  bool in_page_ = false;
  std::function<bool()> abort_proc_;
};

}  // namespace

const TFakePrinter* TFakeSpooler::Find(const std::string& name) const {
  for (const TFakePrinter& p : PrinterList)
    if (p.Name == name) return &p;
  return nullptr;
}

std::vector<std::string> TFakeSpooler::Printers() {
  std::vector<std::string> names;
  for (const TFakePrinter& p : PrinterList) names.push_back(p.Name);
  return names;
}

int32_t TFakeSpooler::DefaultPrinter(std::string& name) {
  name = DefaultError == kErrorNone ? Default : std::string();
  return DefaultError;
}

std::unique_ptr<TPrinterHandle> TFakeSpooler::OpenPrinter(const std::string& name) {
  Calls->push_back("OpenPrinter " + name);
  const TFakePrinter* p = Find(name);
  if (!p) return nullptr;
  return std::make_unique<TFakePrinterHandle>(*p, Calls);
}

std::unique_ptr<TPrintDC> TFakeSpooler::CreateDC(const std::string& name, const TDeviceMode* mode, bool information) {
  const TFakePrinter* p = Find(name);
  const TDeviceMode m = mode ? *mode : (p ? p->Mode : TDeviceMode{});
  Calls->push_back("CreateDC " + name + (information ? " ic " : " dc ") + std::to_string(m.Orientation) + " " +
                   std::to_string(m.Copies));
  if (!p || !p->Reachable) return nullptr;
  return std::make_unique<TFakeDC>(*p, *this, m, information);
}

}  // namespace kav::print
