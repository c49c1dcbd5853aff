#include "platform/print/cups/CupsSpooler.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <cups/cups.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kav::print {

namespace {

// Media of a destination that reports none: A4 without margins.
constexpr int32_t kFallbackWidth = 21000;  // hundredths of a millimetre
constexpr int32_t kFallbackLength = 29700;
constexpr int32_t kFallbackDpi = 300;
// What a destination may report and still be believed.
constexpr int32_t kMinMedia = 100;      // 1 mm
constexpr int32_t kMaxMedia = 1000000;  // 10 m
constexpr int32_t kMinDpi = 36;
constexpr int32_t kMaxDpi = 4800;
// cairo's image surfaces take at most this many pixels a side.
constexpr int32_t kMaxImageSide = 32767;

struct TDestFree {
  void operator()(cups_dest_t* d) const { cupsFreeDests(1, d); }
};
using TDestPtr = std::unique_ptr<cups_dest_t, TDestFree>;

void CloseConnection(http_t* h);

struct THttpClose {
  void operator()(http_t* h) const { CloseConnection(h); }
};
using THttpPtr = std::unique_ptr<http_t, THttpClose>;

struct TInfoFree {
  void operator()(cups_dinfo_t* i) const { cupsFreeDestInfo(i); }
};
using TInfoPtr = std::unique_ptr<cups_dinfo_t, TInfoFree>;

std::string DestName(const cups_dest_t& d) {
  std::string name = d.name ? d.name : "";
  if (d.instance && *d.instance) name.append("/").append(d.instance);
  return name;
}

using TClock = std::chrono::steady_clock;

// How often a wait that sees nothing arrive looks at the deadline (seconds).
constexpr double kWaitSlice = 0.2;

// The calls to the scheduler of one method of the spooler, a printer handle
// or a context: they end by one deadline, the earlier of the method's own
// timeout and the person's request's (TPrintDeadline). libcups bounds each
// wait, not a whole call: a scheduler that sends a byte now and then keeps
// every wait short and the call going for ever. So a wait that sees nothing
// for a slice asks whether the deadline has come (KeepWaiting), and from the
// deadline on a watcher thread shuts the reading side of the sockets of the
// connections the calls use (a wait on them ends at once however fast bytes
// still arrive), again and again until the calls return, since libcups
// opens a connection anew by itself when a request fails. The watcher works
// on its own duplicates of the sockets, and only on sockets connected to
// the scheduler's address, so it never touches a descriptor that something
// else opened under a number libcups closed.
class TCallScope {
 public:
  explicit TCallScope(int32_t timeout_ms) : outer_(t_scope) {
    deadline_ = TClock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    if (const auto request = print::CurrentPrintDeadline(); request && *request < deadline_) deadline_ = *request;
    if (outer_ && outer_->deadline_ < deadline_) deadline_ = outer_->deadline_;
    t_scope = this;
  }
  ~TCallScope() {
    t_scope = outer_;
    {
      std::lock_guard<std::mutex> hold(lock_);
      done_ = true;
    }
    wake_.notify_all();
    if (watcher_.joinable()) watcher_.join();
    for (const TSocket& socket : sockets_) close(socket.Copy);
    if (cut_) print::NotePrintCallTimedOut();
  }
  TCallScope(const TCallScope&) = delete;
  TCallScope& operator=(const TCallScope&) = delete;

  static TCallScope* Current() { return t_scope; }
  bool Passed() const { return TClock::now() >= deadline_; }
  int32_t RemainingMs() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - TClock::now()).count();
    return int32_t(std::clamp<int64_t>(left, 0, INT32_MAX));
  }

  // The connection's waits end by the deadline.
  void Watch(http_t* http) {
    if (!http) return;
    std::lock_guard<std::mutex> hold(lock_);
    if (std::find(connections_.begin(), connections_.end(), http) != connections_.end()) return;
    const int fd = httpGetFd(http);
    TSocket socket;
    if (fd < 0 || !Take(fd, nullptr, socket)) return;
    if (cut_) shutdown(socket.Copy, SHUT_RD);
    peer_ = socket.Peer;
    sockets_.push_back(socket);
    connections_.push_back(http);
    if (!watcher_.joinable()) watcher_ = std::thread([this] { WatchUntilDone(); });
  }
  // The connection is about to be closed: no scope looks at it again.
  static void Forget(http_t* http) {
    for (TCallScope* scope = t_scope; scope; scope = scope->outer_) {
      std::lock_guard<std::mutex> hold(scope->lock_);
      std::erase(scope->connections_, http);
    }
  }

 private:
  struct TSocket {
    int Copy = -1;  // our duplicate
    ino_t Inode = 0;
    std::string Peer;  // the address it is connected to
  };

  static std::string PeerOf(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return std::string(reinterpret_cast<const char*>(&address), std::min<size_t>(length, sizeof address));
  }

  // Duplicates `fd` when it is a connected socket (to `peer`, when given)
  // not yet among ours.
  bool Take(int fd, const std::string* peer, TSocket& out) const {
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return false;
    struct stat st {};
    out = TSocket{copy, 0, PeerOf(copy)};
    bool ok = fstat(copy, &st) == 0 && S_ISSOCK(st.st_mode) && !out.Peer.empty() && (!peer || out.Peer == *peer);
    out.Inode = st.st_ino;
    for (const TSocket& known : sockets_) ok = ok && known.Inode != out.Inode;
    if (!ok) close(copy);
    return ok;
  }

  void WatchUntilDone() {
    std::unique_lock<std::mutex> hold(lock_);
    if (wake_.wait_until(hold, deadline_, [this] { return done_; })) return;
    cut_ = true;
    // Reading ends (a wait returns at once with nothing); writing is left
    // alone, so no SIGPIPE: a write that blocks ends by KeepWaiting.
    for (const TSocket& socket : sockets_) shutdown(socket.Copy, SHUT_RD);
    // Connections libcups opens anew meanwhile end the same way.
    while (!wake_.wait_for(hold, std::chrono::milliseconds(20), [this] { return done_; })) {
      for (http_t* http : connections_) {
        const int fd = httpGetFd(http);
        TSocket socket;
        if (fd < 0 || !Take(fd, &peer_, socket)) continue;
        shutdown(socket.Copy, SHUT_RD);
        sockets_.push_back(socket);
      }
    }
  }

  static thread_local TCallScope* t_scope;
  TCallScope* outer_;
  TClock::time_point deadline_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool done_ = false;
  bool cut_ = false;
  std::vector<TSocket> sockets_;
  std::vector<http_t*> connections_;
  std::string peer_;
  std::thread watcher_;
};

thread_local TCallScope* TCallScope::t_scope = nullptr;

void CloseConnection(http_t* h) {
  TCallScope::Forget(h);
  httpClose(h);
}

// Called by libcups when a wait saw nothing for a slice: waits on while the
// calls' deadline has not come (a wait outside any call gives up).
int KeepWaiting(http_t*, void*) {
  const TCallScope* scope = TCallScope::Current();
  if (scope && !scope->Passed()) return 1;
  print::NotePrintCallTimedOut();
  return 0;
}

// A connection to the scheduler by the name the client is configured with,
// its connecting and every wait on it bounded by the current calls'
// deadline; null when there is none, or no time is left.
// Destinations are the scheduler's queues, so their calls go to the
// scheduler itself: over a connection to any other name (such as the host
// in the queue's URI) libcups takes the connection for one to the printer
// and addresses the queue's device instead.
THttpPtr ConnectScheduler() {
  TCallScope* scope = TCallScope::Current();
  const int32_t left = scope ? scope->RemainingMs() : 0;
  if (left <= 0) {
    print::NotePrintCallTimedOut();
    return nullptr;
  }
  THttpPtr http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, left, nullptr));
  if (http) {
    httpSetTimeout(http.get(), kWaitSlice, &KeepWaiting, nullptr);
    scope->Watch(http.get());
  }
  return http;
}

// The destination of that name ("name" or "name/instance"); null when CUPS
// knows none. An empty name is no destination (CUPS would give the default).
// Looked up among the scheduler's destinations over `http`: cupsGetNamedDest
// looks for a name the scheduler does not answer with on a connection of
// its own, which has no timeout.
TDestPtr FindDest(http_t* http, const std::string& name) {
  if (name.empty() || !http) return nullptr;
  const size_t slash = name.find('/');
  const std::string base = name.substr(0, slash);
  const std::string instance = slash == std::string::npos ? std::string() : name.substr(slash + 1);
  cups_dest_t* dests = nullptr;
  const int n = cupsGetDests2(http, &dests);
  cups_dest_t* found = cupsGetDest(base.c_str(), instance.empty() ? nullptr : instance.c_str(), n, dests);
  cups_dest_t* copy = nullptr;
  if (found && cupsCopyDest(found, 0, &copy) != 1) {
    cupsFreeDests(1, copy);
    copy = nullptr;
  }
  cupsFreeDests(n, dests);
  return TDestPtr(copy);
}

// The default of a job attribute: the destination's own option (lpoptions),
// else the printer's "-default" value; `fallback` when neither is an integer.
int32_t DefaultInteger(http_t* http, cups_dest_t* dest, cups_dinfo_t* info, const char* name, int32_t fallback) {
  if (const char* v = cupsGetOption(name, dest->num_options, dest->options)) {
    char* end = nullptr;
    const long n = std::strtol(v, &end, 10);
    if (end != v && *end == 0 && n > 0 && n < 0x8000) return int32_t(n);
  }
  if (info) {
    ipp_attribute_t* a = cupsFindDestDefault(http, dest, info, name);
    if (a && (ippGetValueTag(a) == IPP_TAG_INTEGER || ippGetValueTag(a) == IPP_TAG_ENUM)) return ippGetInteger(a, 0);
  }
  return fallback;
}

TDeviceMode DefaultMode(http_t* http, cups_dest_t* dest, cups_dinfo_t* info) {
  TDeviceMode mode;
  // Orientation is realised by the page's shape and copies by CUPS itself,
  // so every destination takes both.
  mode.Fields = kFieldOrientation | kFieldCopies;
  mode.Orientation = DefaultInteger(http, dest, info, CUPS_ORIENTATION, 3) == 4 ? kOrientLandscape : kOrientPortrait;
  mode.Copies = int16_t(std::clamp(DefaultInteger(http, dest, info, CUPS_COPIES, 1), 1, 9999));
  return mode;
}

class TCupsPrinterHandle : public TPrinterHandle {
 public:
  TCupsPrinterHandle(TDestPtr dest, int32_t timeout_ms) : dest_(std::move(dest)), timeout_ms_(timeout_ms) {}

  bool DefaultDeviceMode(TDeviceMode& mode) override {
    TCallScope scope(timeout_ms_);
    THttpPtr http = ConnectScheduler();
    if (!http) return false;
    TInfoPtr info(cupsCopyDestInfo(http.get(), dest_.get()));
    if (!info) return false;
    mode = DefaultMode(http.get(), dest_.get(), info.get());
    return true;
  }

 private:
  TDestPtr dest_;
  int32_t timeout_ms_;
};

// The sheet and its printable area as the context presents them, in
// hundredths of a millimetre, and the resolution.
struct TPageGeometry {
  int32_t Width = kFallbackWidth, Length = kFallbackLength;
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int32_t DpiX = kFallbackDpi, DpiY = kFallbackDpi;
};

TPageGeometry ReadGeometry(http_t* http, cups_dest_t* dest, cups_dinfo_t* info, bool landscape) {
  TPageGeometry g;
  cups_size_t size{};
  bool known = cupsGetDestMediaDefault(http, dest, info, CUPS_MEDIA_FLAGS_DEFAULT, &size);
  if (!known) {
    // CUPS finds no entry for the default among the queue's media (a queue
    // that lists its default and nothing else): the size by its name, with
    // no margins known.
    ipp_attribute_t* def = info ? cupsFindDestDefault(http, dest, info, "media") : nullptr;
    const char* queue_default = def && ippGetCount(def) > 0 ? ippGetString(def, 0, nullptr) : nullptr;
    size = cups_size_t{};
    known = DefaultMediaSize(*dest, queue_default, size.width, size.length);
  }
  if (known && size.width >= kMinMedia && size.width <= kMaxMedia && size.length >= kMinMedia &&
      size.length <= kMaxMedia) {
    g.Width = size.width;
    g.Length = size.length;
    if (size.left >= 0 && size.right >= 0 && size.top >= 0 && size.bottom >= 0 &&
        int64_t(size.left) + size.right < size.width && int64_t(size.top) + size.bottom < size.length) {
      g.Left = size.left;
      g.Right = size.right;
      g.Top = size.top;
      g.Bottom = size.bottom;
    }
  }
  ipp_attribute_t* res = cupsFindDestDefault(http, dest, info, "printer-resolution");
  if (!res) res = cupsFindDestSupported(http, dest, info, "printer-resolution");
  if (res && ippGetValueTag(res) == IPP_TAG_RESOLUTION) {
    int yres = 0;
    ipp_res_t units = IPP_RES_PER_INCH;
    int xres = ippGetResolution(res, 0, &yres, &units);
    if (units == IPP_RES_PER_CM) {
      xres = int(xres * 254L / 100);
      yres = int(yres * 254L / 100);
    }
    if (xres >= kMinDpi && xres <= kMaxDpi && yres >= kMinDpi && yres <= kMaxDpi) {
      g.DpiX = xres;
      g.DpiY = yres;
    }
  }
  if (landscape) {
    // The picture turns a quarter anticlockwise on the sheet: its top edge
    // runs along the sheet's left edge, its left edge along the bottom.
    TPageGeometry r = g;
    r.Width = g.Length;
    r.Length = g.Width;
    r.Left = g.Bottom;
    r.Top = g.Left;
    r.Right = g.Top;
    r.Bottom = g.Right;
    r.DpiX = g.DpiY;
    r.DpiY = g.DpiX;
    return r;
  }
  return g;
}

int32_t ToPixels(int32_t hundredths_mm, int32_t dpi) { return int32_t(int64_t(hundredths_mm) * dpi / 2540); }
double ToPoints(int32_t hundredths_mm) { return hundredths_mm * 72.0 / 2540.0; }

class TCupsDC : public TPrintDC {
 public:
  TCupsDC(TDestPtr dest, THttpPtr http, TInfoPtr info, const TDeviceMode& mode, bool information, int32_t timeout_ms)
      : dest_(std::move(dest)),
        http_(std::move(http)),
        info_(std::move(info)),
        mode_(mode),
        information_(information),
        timeout_ms_(timeout_ms) {
    geometry_ = ReadGeometry(http_.get(), dest_.get(), info_.get(), mode_.Orientation == kOrientLandscape);
  }

  ~TCupsDC() override {
    if (job_id_ > 0) AbortDoc();
  }

  int32_t DeviceCaps(int32_t index) const override {
    const TPageGeometry& g = geometry_;
    switch (index) {
      case kHorzRes:
        return ToPixels(g.Width - g.Left - g.Right, g.DpiX);
      case kVertRes:
        return ToPixels(g.Length - g.Top - g.Bottom, g.DpiY);
      case kLogPixelsX:
        return g.DpiX;
      case kLogPixelsY:
        return g.DpiY;
      case kPhysicalWidth:
        return ToPixels(g.Width, g.DpiX);
      case kPhysicalHeight:
        return ToPixels(g.Length, g.DpiY);
      case kPhysicalOffsetX:
        return ToPixels(g.Left, g.DpiX);
      case kPhysicalOffsetY:
        return ToPixels(g.Top, g.DpiY);
      default:
        return 0;
    }
  }

  void SetAbortProc(std::function<bool()> proc) override { abort_proc_ = std::move(proc); }

  int32_t StartDoc(const std::string& title) override {
    if (information_ || job_id_ > 0) return -1;
    TCallScope scope(timeout_ms_);
    if (http_) {
      scope.Watch(http_.get());
    } else {
      http_ = ConnectScheduler();
      if (!http_) return -1;
    }
    cups_option_t* options = nullptr;
    int n = cupsAddIntegerOption(CUPS_COPIES, std::max<int>(1, mode_.Copies), 0, &options);
    n = cupsAddOption(CUPS_ORIENTATION,
                      mode_.Orientation == kOrientLandscape ? CUPS_ORIENTATION_LANDSCAPE : CUPS_ORIENTATION_PORTRAIT, n,
                      &options);
    int job = 0;
    const ipp_status_t created =
        cupsCreateDestJob(http_.get(), dest_.get(), info_.get(), &job, title.c_str(), n, options);
    cupsFreeOptions(n, options);
    if (created > IPP_STATUS_OK_CONFLICTING || job <= 0) return -1;
    job_id_ = job;
    if (cupsStartDestDocument(http_.get(), dest_.get(), info_.get(), job_id_, title.c_str(), CUPS_FORMAT_PDF, 0,
                              nullptr, 1) != HTTP_STATUS_CONTINUE) {
      CancelJob();
      return -1;
    }
    stop_sending_ = false;
    surface_ = cairo_pdf_surface_create_for_stream(&TCupsDC::Write, this, ToPoints(geometry_.Width),
                                                   ToPoints(geometry_.Length));
    cr_ = cairo_create(surface_);
    if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) {
      AbortDoc();
      return -1;
    }
    return job_id_;
  }

  int32_t StartPage() override {
    if (!cr_ || in_page_) return -1;
    in_page_ = true;
    return 1;
  }

  int32_t EndPage() override {
    if (!cr_ || !in_page_) return -1;
    TCallScope scope(timeout_ms_);
    scope.Watch(http_.get());
    in_page_ = false;
    cairo_show_page(cr_);
    return cairo_status(cr_) == CAIRO_STATUS_SUCCESS && !stop_sending_ ? 1 : -1;
  }

  int32_t EndDoc() override {
    if (!cr_) return -1;
    TCallScope scope(timeout_ms_);
    scope.Watch(http_.get());
    if (in_page_) EndPage();
    cairo_destroy(cr_);
    cr_ = nullptr;
    cairo_surface_finish(surface_);
    const bool written = cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS && !stop_sending_;
    cairo_surface_destroy(surface_);
    surface_ = nullptr;
    if (!written) {
      CancelJob();
      return -1;
    }
    const ipp_status_t finished = cupsFinishDestDocument(http_.get(), dest_.get(), info_.get());
    job_id_ = 0;
    return finished <= IPP_STATUS_OK_CONFLICTING ? 1 : -1;
  }

  int32_t AbortDoc() override {
    if (job_id_ <= 0) return -1;
    TCallScope scope(timeout_ms_);
    // Whatever cairo still has to write is dropped.
    stop_sending_ = true;
    if (cr_) cairo_destroy(cr_);
    cr_ = nullptr;
    if (surface_) cairo_surface_destroy(surface_);
    surface_ = nullptr;
    in_page_ = false;
    CancelJob();
    return 1;
  }

  int32_t StretchDIBits(int32_t x, int32_t y, int32_t w, int32_t h, const TPrintPixels& src, int32_t sx, int32_t sy,
                        int32_t sw, int32_t sh) override {
    if (!cr_ || !in_page_ || !src.Bits || w <= 0 || h <= 0 || sw <= 0 || sh <= 0 || sx < 0 || sy < 0 ||
        int64_t(sx) + sw > src.Width || int64_t(sy) + sh > src.Height || src.Stride < int64_t(src.Width) * 4 ||
        sw > kMaxImageSide || sh > kMaxImageSide)
      return 0;
    // cairo may send part of the document while it draws.
    TCallScope scope(timeout_ms_);
    scope.Watch(http_.get());
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, sw, sh);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(image);
      return 0;
    }
    // RGB24 keeps each pixel as a native 32-bit 0x00RRGGBB: in memory (little
    // endian) blue, green, red, unused, as the picture holds them.
    cairo_surface_flush(image);
    uint8_t* dst = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    for (int32_t row = 0; row < sh; ++row)
      std::memcpy(dst + size_t(row) * size_t(stride), src.Bits + size_t(sy + row) * size_t(src.Stride) + size_t(sx) * 4,
                  size_t(sw) * 4);
    cairo_surface_mark_dirty(image);

    const TPageGeometry& g = geometry_;
    cairo_save(cr_);
    cairo_translate(cr_, ToPoints(g.Left), ToPoints(g.Top));
    cairo_scale(cr_, 72.0 / g.DpiX, 72.0 / g.DpiY);
    cairo_rectangle(cr_, x, y, w, h);
    cairo_clip(cr_);
    cairo_translate(cr_, x, y);
    cairo_scale(cr_, double(w) / sw, double(h) / sh);
    cairo_set_source_surface(cr_, image, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(cairo_get_source(cr_), CAIRO_EXTEND_PAD);
    cairo_paint(cr_);
    cairo_restore(cr_);
    cairo_surface_destroy(image);
    return cairo_status(cr_) == CAIRO_STATUS_SUCCESS ? sh : 0;
  }

 private:
  static cairo_status_t Write(void* closure, const unsigned char* data, unsigned int length) {
    auto* self = static_cast<TCupsDC*>(closure);
    if (self->stop_sending_) return CAIRO_STATUS_WRITE_ERROR;
    // The time for sending is up: the document is given up.
    if (const TCallScope* scope = TCallScope::Current(); scope && scope->Passed()) {
      self->stop_sending_ = true;
      return CAIRO_STATUS_WRITE_ERROR;
    }
    if (self->abort_proc_ && !self->abort_proc_()) {
      self->stop_sending_ = true;
      return CAIRO_STATUS_WRITE_ERROR;
    }
    if (cupsWriteRequestData(self->http_.get(), reinterpret_cast<const char*>(data), length) != HTTP_STATUS_CONTINUE) {
      self->stop_sending_ = true;
      return CAIRO_STATUS_WRITE_ERROR;
    }
    return CAIRO_STATUS_SUCCESS;
  }

  // Cancels the job over a connection of its own (the document's may be in
  // the middle of a request), then drops the document's connection so the
  // half-sent document never completes.
  void CancelJob() {
    if (job_id_ > 0) {
      // Within the calls' deadline: once it has come there is no time left
      // to tell the scheduler, which then sees the document's connection
      // close half-way instead.
      if (THttpPtr http = ConnectScheduler()) cupsCancelDestJob(http.get(), dest_.get(), job_id_);
    }
    job_id_ = 0;
    http_.reset();
  }

  TDestPtr dest_;
  THttpPtr http_;
  TInfoPtr info_;
  TDeviceMode mode_;
  bool information_;
  int32_t timeout_ms_;
  TPageGeometry geometry_;
  std::function<bool()> abort_proc_;
  int job_id_ = 0;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  bool in_page_ = false;
  bool stop_sending_ = false;
};

}  // namespace

bool MediaSizeByName(const std::string& name, int32_t& width, int32_t& length) {
  if (name.empty() || name.size() > 255) return false;
  pwg_media_t* media = pwgMediaForPWG(name.c_str());
  if (!media) media = pwgMediaForLegacy(name.c_str());
  if (!media) media = pwgMediaForPPD(name.c_str());
  if (!media) {
    // "na_letter", "iso_a4": a PWG name without its dimensions is the
    // IPP legacy name with "-" for "_".
    std::string legacy = name;
    std::replace(legacy.begin(), legacy.end(), '_', '-');
    media = pwgMediaForLegacy(legacy.c_str());
  }
  if (!media || media->width <= 0 || media->length <= 0) return false;
  width = media->width;
  length = media->length;
  return true;
}

bool DefaultMediaSize(const cups_dest_t& dest, const char* queue_default, int32_t& width, int32_t& length) {
  const char* chosen = cupsGetOption("media", dest.num_options, dest.options);
  if (chosen && MediaSizeByName(chosen, width, length)) return true;
  const char* listed = cupsGetOption("media-default", dest.num_options, dest.options);
  for (const char* name : {queue_default, listed})
    if (name && MediaSizeByName(name, width, length)) return true;
  return false;
}

std::vector<std::string> TCupsSpooler::Printers() {
  TCallScope scope(timeout_ms_);
  THttpPtr http = ConnectScheduler();
  if (!http) return {};
  cups_dest_t* dests = nullptr;
  const int n = cupsGetDests2(http.get(), &dests);
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) names.push_back(DestName(dests[i]));
  cupsFreeDests(n, dests);
  return names;
}

int32_t TCupsSpooler::DefaultPrinter(std::string& name) {
  name.clear();
  TCallScope scope(timeout_ms_);
  THttpPtr http = ConnectScheduler();
  // No scheduler at all is a system without printers; one that did not
  // answer in time could not say.
  if (!http) return scope.Passed() ? ETIMEDOUT : kErrorNone;
  if (TDestPtr dest{cupsGetNamedDest(http.get(), nullptr, nullptr)}) name = DestName(*dest);
  else if (scope.Passed()) return ETIMEDOUT;
  return kErrorNone;
}

std::unique_ptr<TPrinterHandle> TCupsSpooler::OpenPrinter(const std::string& name) {
  TCallScope scope(timeout_ms_);
  TDestPtr dest = FindDest(ConnectScheduler().get(), name);
  if (!dest) return nullptr;
  return std::make_unique<TCupsPrinterHandle>(std::move(dest), timeout_ms_);
}

std::unique_ptr<TPrintDC> TCupsSpooler::CreateDC(const std::string& name, const TDeviceMode* mode, bool information) {
  TCallScope scope(timeout_ms_);
  THttpPtr http = ConnectScheduler();
  TDestPtr dest = FindDest(http.get(), name);
  if (!dest) return nullptr;
  TInfoPtr info(cupsCopyDestInfo(http.get(), dest.get()));
  if (!info) return nullptr;
  const TDeviceMode m = mode ? *mode : DefaultMode(http.get(), dest.get(), info.get());
  return std::make_unique<TCupsDC>(std::move(dest), std::move(http), std::move(info), m, information, timeout_ms_);
}

}  // namespace kav::print
