#include "platform/window/sdl/SdlClipboard.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <png.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <functional>

#include "VoRav/vxUTF8.h"
#include "platform/window/WinCodes.h"

namespace kav::win {

namespace {

// Caps on a bitmap taken from the clipboard.
constexpr int64_t kMaxSide = 16384;
constexpr int64_t kMaxPixels = int64_t(1) << 26;

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// A DIB block's header read and checked against the bytes present.
struct TDibLayout {
  int32_t Width = 0, Height = 0;  // Height > 0
  bool TopDown = false;
  uint16_t Bits = 0;
  uint32_t Compression = 0;
  uint32_t Masks[3] = {};  // red, green, blue (compression 3)
  size_t Palette = 0;      // offset of the colour table
  uint32_t Colors = 0;
  size_t PixelOffset = 0;
  size_t Stride = 0;
  size_t PixelBytes = 0;
};

bool ReadDibLayout(const std::vector<uint8_t>& d, TDibLayout& l) {
  if (d.size() < 40) return false;
  const uint8_t* p = d.data();
  const uint32_t header = Le32(p);
  if (header < 40 || header > d.size()) return false;
  const int32_t width = int32_t(Le32(p + 4)), height = int32_t(Le32(p + 8));
  const uint16_t planes = Le16(p + 12);
  l.Bits = Le16(p + 14);
  l.Compression = Le32(p + 16);
  const uint32_t size_image = Le32(p + 20), used = Le32(p + 32);
  if (planes != 1 || width <= 0 || height == 0 || height == INT32_MIN) return false;
  l.Width = width;
  l.TopDown = height < 0;
  l.Height = height < 0 ? -height : height;
  if (l.Width > kMaxSide || l.Height > kMaxSide || int64_t(l.Width) * l.Height > kMaxPixels) return false;
  switch (l.Bits) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return false;
  }
  const bool rle = (l.Compression == 1 && l.Bits == 8) || (l.Compression == 2 && l.Bits == 4);
  const bool fields = l.Compression == 3 && (l.Bits == 16 || l.Bits == 32);
  if (l.Compression != 0 && !rle && !fields) return false;
  size_t offset = header;
  if (fields) {
    const size_t at = header >= 52 ? 40 : header;  // inside a larger header, else after it
    if (at + 12 > d.size()) return false;
    for (int i = 0; i < 3; ++i) l.Masks[i] = Le32(p + at + 4 * size_t(i));
    if (header < 52) offset += 12;
  }
  if (l.Bits <= 8) {
    const uint32_t full = 1u << l.Bits;
    if (used > full) return false;
    l.Colors = used ? used : full;
  } else {
    if (used > 256) return false;
    l.Colors = used;
  }
  l.Palette = offset;
  offset += size_t(l.Colors) * 4;
  l.PixelOffset = offset;
  l.Stride = (size_t(l.Width) * l.Bits + 31) / 32 * 4;
  l.PixelBytes = rle ? size_image : l.Stride * size_t(l.Height);
  if (rle && size_image == 0) return false;
  return offset <= d.size() && l.PixelBytes <= d.size() - offset;
}

// Width and shift of a mask, for scaling its field to 8 bits.
void MaskShape(uint32_t mask, int& shift, int& bits) {
  shift = 0;
  bits = 0;
  if (!mask) return;
  while (!(mask & 1)) mask >>= 1, ++shift;
  while (mask & 1) mask >>= 1, ++bits;
}

uint8_t Field(uint32_t v, uint32_t mask, int shift, int bits) {
  if (!bits) return 0;
  const uint32_t f = (v & mask) >> shift;
  const uint32_t max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
  return uint8_t((uint64_t(f) * 255 + max / 2) / max);
}

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void PngFlush(png_structp) {}

// libpng's error jump lands here, in a frame that holds nothing to destroy.
bool WritePngRows(std::vector<uint8_t>* out, int32_t width, int32_t height, png_bytep* rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_set_write_fn(png, out, &PngWrite, &PngFlush);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::vector<uint8_t> DibToBmpFile(const std::vector<uint8_t>& dib) {
  TDibLayout l;
  if (!ReadDibLayout(dib, l) || dib.size() > 0xFFFFFFFFu - 14) return {};
  std::vector<uint8_t> out(14);
  const uint32_t size = uint32_t(dib.size() + 14), bits = uint32_t(l.PixelOffset + 14);
  out[0] = 'B', out[1] = 'M';
  for (int i = 0; i < 4; ++i) out[2 + size_t(i)] = uint8_t(size >> (8 * i)), out[10 + size_t(i)] = uint8_t(bits >> (8 * i));
  out.insert(out.end(), dib.begin(), dib.end());
  return out;
}

bool DibToRgba(const std::vector<uint8_t>& dib, int32_t& width, int32_t& height, std::vector<uint8_t>& rgba) {
  TDibLayout l;
  if (!ReadDibLayout(dib, l) || l.Compression == 1 || l.Compression == 2) return false;
  width = l.Width;
  height = l.Height;
  rgba.assign(size_t(width) * size_t(height) * 4, 0);
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};  // 5-5-5 without bit fields
  if (l.Bits == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
  if (l.Compression == 3) std::memcpy(masks, l.Masks, sizeof masks);
  int shift[3], bits[3];
  for (int i = 0; i < 3; ++i) MaskShape(masks[i], shift[i], bits[i]);
  const uint8_t* palette = dib.data() + l.Palette;
  bool any_alpha = false;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = dib.data() + l.PixelOffset + l.Stride * size_t(l.TopDown ? y : height - 1 - y);
    uint8_t* o = rgba.data() + size_t(y) * size_t(width) * 4;
    for (int32_t x = 0; x < width; ++x, o += 4) {
      if (l.Bits <= 8) {
        const uint32_t bit = uint32_t(x) * l.Bits;
        const uint32_t index = (row[bit / 8] >> (8 - l.Bits - bit % 8)) & ((1u << l.Bits) - 1);
        if (index < l.Colors) {
          const uint8_t* c = palette + size_t(index) * 4;
          o[0] = c[2], o[1] = c[1], o[2] = c[0];
        }
        o[3] = 255;
      } else if (l.Bits == 24) {
        const uint8_t* c = row + size_t(x) * 3;
        o[0] = c[2], o[1] = c[1], o[2] = c[0], o[3] = 255;
      } else {
        const uint32_t v = l.Bits == 16 ? Le16(row + size_t(x) * 2) : Le32(row + size_t(x) * 4);
        for (int i = 0; i < 3; ++i) o[i] = Field(v, masks[i], shift[i], bits[i]);
        // 32 bits without bit fields: the top byte is alpha when any pixel has one.
        o[3] = l.Bits == 32 && l.Compression == 0 ? uint8_t(v >> 24) : 255;
        any_alpha = any_alpha || o[3] != 0;
      }
    }
  }
  if (l.Bits == 32 && l.Compression == 0 && !any_alpha)
    for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;
  return true;
}

std::vector<uint8_t> EncodePng(int32_t width, int32_t height, const std::vector<uint8_t>& rgba) {
  std::vector<uint8_t> out;
  if (width < 1 || height < 1 || rgba.size() != size_t(width) * size_t(height) * 4) return out;
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  for (int32_t y = 0; y < height; ++y)
    rows[size_t(y)] = const_cast<png_bytep>(rgba.data() + size_t(y) * size_t(width) * 4);
  if (!WritePngRows(&out, width, height, rows.data())) out.clear();
  return out;
}

// ---- the X11 selection ----

// The entries of the X library SDL loaded (looked up, not linked, so other
// drivers never load it).
struct TSdlClipboard::TX11 {
  Display* display = nullptr;
  Window window = 0;
  Atom clipboard = 0, targets = 0, png = 0, bmp = 0, utf8 = 0, text_plain_utf8 = 0, text = 0, incr = 0;
  size_t max_property = 0;
  decltype(&XInternAtom) InternAtom = nullptr;
  decltype(&XCreateWindow) CreateWindow = nullptr;
  decltype(&XDestroyWindow) DestroyWindow = nullptr;
  decltype(&XSetSelectionOwner) SetSelectionOwner = nullptr;
  decltype(&XGetSelectionOwner) GetSelectionOwner = nullptr;
  decltype(&XChangeProperty) ChangeProperty = nullptr;
  decltype(&XSendEvent) SendEvent = nullptr;
  decltype(&XFlush) Flush = nullptr;
  decltype(&XMaxRequestSize) MaxRequestSize = nullptr;
  decltype(&XExtendedMaxRequestSize) ExtendedMaxRequestSize = nullptr;
};

// Another program's text, read on an X connection of our own (to the
// display SDL uses) through a hidden window of ours, so its events never
// mix with SDL's. The owner of the selection is watched through XFixes:
// a paste from an owner that did not answer before (the same owner since
// the last change) asks again only after the owner changes.
struct TSdlClipboard::TReader {
  static inline std::atomic<int> answer_ms{500};  // wait for the owner's answer
  static constexpr int kChunkMs = 5000;        // wait for each increment
  static constexpr size_t kMaxText = size_t(64) << 20;

  Display* display = nullptr;
  Window window = 0;
  Atom clipboard = 0, utf8 = 0, property = 0, incr = 0;
  int fixes_event = -1;        // XFixes' first event code, -1 without XFixes
  uint64_t owner_changes = 0;  // XFixes selection events seen
  // The last owner that did not answer, and the change count then.
  Window stuck_owner = 0;
  uint64_t stuck_changes = 0;
  // The last text read, valid while XFixes reports no new owner (an owner
  // with new contents takes the selection again).
  bool cached = false;
  Window cached_owner = 0;
  uint64_t cached_changes = 0;
  std::string cached_text;
  void* fixes_lib = nullptr;

  decltype(&XOpenDisplay) OpenDisplay = nullptr;
  decltype(&XCloseDisplay) CloseDisplay = nullptr;
  decltype(&XInternAtom) InternAtom = nullptr;
  decltype(&XCreateWindow) CreateWindow = nullptr;
  decltype(&XSelectInput) SelectInput = nullptr;
  decltype(&XGetSelectionOwner) GetSelectionOwner = nullptr;
  decltype(&XConvertSelection) ConvertSelection = nullptr;
  decltype(&XGetWindowProperty) GetWindowProperty = nullptr;
  decltype(&XDeleteProperty) DeleteProperty = nullptr;
  decltype(&XFree) Free = nullptr;
  decltype(&XPending) Pending = nullptr;
  decltype(&XNextEvent) NextEvent = nullptr;
  decltype(&XFlush) Flush = nullptr;
  using TQueryExtension = int (*)(Display*, int*, int*);
  using TSelectSelectionInput = void (*)(Display*, Window, Atom, unsigned long);

  ~TReader() {
    if (display) CloseDisplay(display);
    if (fixes_lib) dlclose(fixes_lib);
  }

  bool Open(const char* name) {
    void* lib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
    if (!lib) return false;
    auto get = [&](void* from, auto& f, const char* sym) {
      f = reinterpret_cast<std::remove_reference_t<decltype(f)>>(dlsym(from, sym));
      return f != nullptr;
    };
    const bool all = get(lib, OpenDisplay, "XOpenDisplay") && get(lib, CloseDisplay, "XCloseDisplay") &&
                     get(lib, InternAtom, "XInternAtom") && get(lib, CreateWindow, "XCreateWindow") &&
                     get(lib, SelectInput, "XSelectInput") && get(lib, GetSelectionOwner, "XGetSelectionOwner") &&
                     get(lib, ConvertSelection, "XConvertSelection") &&
                     get(lib, GetWindowProperty, "XGetWindowProperty") &&
                     get(lib, DeleteProperty, "XDeleteProperty") && get(lib, Free, "XFree") &&
                     get(lib, Pending, "XPending") && get(lib, NextEvent, "XNextEvent") &&
                     get(lib, Flush, "XFlush");
    dlclose(lib);  // SDL keeps its own handle
    if (!all || !(display = OpenDisplay(name))) return false;
    XSetWindowAttributes attributes{};
    window = CreateWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, CopyFromParent, InputOnly,
                          CopyFromParent, 0, &attributes);
    if (!window) return false;
    SelectInput(display, window, PropertyChangeMask);
    clipboard = InternAtom(display, "CLIPBOARD", False);
    utf8 = InternAtom(display, "UTF8_STRING", False);
    property = InternAtom(display, "KAV_CLIPBOARD_TEXT", False);
    incr = InternAtom(display, "INCR", False);
    TQueryExtension query = nullptr;
    TSelectSelectionInput select = nullptr;
    if ((fixes_lib = dlopen("libXfixes.so.3", RTLD_LAZY)) && get(fixes_lib, query, "XFixesQueryExtension") &&
        get(fixes_lib, select, "XFixesSelectSelectionInput")) {
      int event_base = 0, error_base = 0;
      if (query(display, &event_base, &error_base)) {
        // Every kind of change: a new owner, its window gone, its client gone.
        select(display, window, clipboard, 7);
        fixes_event = event_base;
      }
    }
    Flush(display);
    return true;
  }

  // Reads the events that came, noting owner changes; with `want` set,
  // waits until such an event (true) or the deadline (false).
  bool Wait(std::chrono::steady_clock::time_point deadline, const std::function<bool(const XEvent&)>& want) {
    for (;;) {
      while (Pending(display) > 0) {
        XEvent e;
        NextEvent(display, &e);
        if (fixes_event >= 0 && e.type == fixes_event) ++owner_changes;  // XFixesSelectionNotify
        if (want && want(e)) return true;
      }
      if (!want) return false;
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return false;
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
      pollfd p{ConnectionNumber(display), POLLIN, 0};
      poll(&p, 1, int(std::min<long long>(ms + 1, 1000)));
    }
  }

  // Reads and deletes the property; appends 8-bit data to `out`. The type
  // read goes to `type`; false when the property is missing or too large.
  bool Take(std::string& out, Atom& type) {
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (GetWindowProperty(display, window, property, 0, long(kMaxText / 4), True, AnyPropertyType, &type, &format,
                          &count, &after, &data) != Success)
      return false;
    bool ok = type != None && after == 0;
    if (ok && type != incr && format == 8) {
      if (out.size() + count > kMaxText) ok = false;
      else out.append(reinterpret_cast<const char*>(data), count);
    }
    if (data) Free(data);
    return ok;
  }

  // 1 text read, 0 none.
  int Read(std::string& out) {
    // The owner is asked first: an owner change the server made before it
    // has then reached our queue, and is counted by the drain after.
    const Window owner = GetSelectionOwner(display, clipboard);
    Wait({}, nullptr);
    if (owner == None) return 0;
    if (owner == stuck_owner && owner_changes == stuck_changes) return 0;
    if (cached && owner == cached_owner && owner_changes == cached_changes) {
      out = cached_text;
      return 1;
    }
    cached = false;
    const auto answered = [&](Atom target) {
      ConvertSelection(display, clipboard, target, property, window, CurrentTime);
      Flush(display);
      bool refused = true;
      const bool came = Wait(std::chrono::steady_clock::now() + std::chrono::milliseconds(answer_ms.load()),
                             [&](const XEvent& e) {
                               if (e.type != SelectionNotify || e.xselection.selection != clipboard) return false;
                               refused = e.xselection.property == None;
                               return true;
                             });
      return came ? (refused ? 0 : 1) : -1;
    };
    int answer = answered(utf8);
    if (answer == 0) answer = answered(XA_STRING);
    if (answer < 0) {
      stuck_owner = owner;
      stuck_changes = owner_changes;
      return 0;
    }
    stuck_owner = 0;
    if (answer == 0) return 0;
    Atom type = None;
    out.clear();
    if (!Take(out, type)) return 0;
    if (type == incr) {
      // Deleting the property (Take did) asks for the first increment; each
      // comes as a new value of the property, and an empty one ends it.
      for (;;) {
        const bool came = Wait(std::chrono::steady_clock::now() + std::chrono::milliseconds(kChunkMs),
                               [&](const XEvent& e) {
                                 return e.type == PropertyNotify && e.xproperty.atom == property &&
                                        e.xproperty.state == PropertyNewValue;
                               });
        const size_t before = out.size();
        if (!came || !Take(out, type)) {
          DeleteProperty(display, window, property);
          Flush(display);
          out.clear();
          return 0;
        }
        if (out.size() == before) break;
      }
    }
    // A Latin-1 answer (STRING) becomes UTF-8.
    if (type == XA_STRING) {
      std::string utf;
      for (unsigned char c : out) {
        if (c < 0x80) utf.push_back(char(c));
        else utf.push_back(char(0xC0 | (c >> 6))), utf.push_back(char(0x80 | (c & 0x3F)));
      }
      out.swap(utf);
    }
    if (fixes_event >= 0) {
      cached = true;
      cached_owner = owner;
      cached_changes = owner_changes;
      cached_text = out;
    }
    return 1;
  }
};

int TSdlClipboard::ReadForeignText(std::string& utf8) {
  if (!reader_) {
    if (reader_failed_ || !InitX11()) return -1;
    auto r = std::make_unique<TReader>();
    if (!r->Open(DisplayString(x11_->display))) {
      reader_failed_ = true;
      return -1;
    }
    reader_ = std::move(r);
  }
  return reader_->Read(utf8);
}

struct TClipboardWatch {
  static int Call(void* self, SDL_Event* e) {
    // Called on the thread that pushes an event: only the GUI thread's own
    // X events and clipboard updates are looked at.
    if (e->type == SDL_SYSWMEVENT || e->type == SDL_CLIPBOARDUPDATE) static_cast<TSdlClipboard*>(self)->Watch(e);
    return 1;
  }
};

TSdlClipboard::TSdlClipboard() { SDL_AddEventWatch(&TClipboardWatch::Call, this); }

TSdlClipboard::~TSdlClipboard() {
  SDL_DelEventWatch(&TClipboardWatch::Call, this);
  if (x11_ && x11_->window) {
    x11_->DestroyWindow(x11_->display, x11_->window);
    x11_->Flush(x11_->display);
  }
}

void TSdlClipboard::Pump() { SDL_PumpEvents(); }

void TSdlClipboard::SetAnswerWaitMs(int ms) { TReader::answer_ms = ms; }

bool TSdlClipboard::OwnSelection() {
  if (!InitX11()) return false;
  x11_->SetSelectionOwner(x11_->display, x11_->clipboard, x11_->window, CurrentTime);
  x11_->Flush(x11_->display);
  return x11_->GetSelectionOwner(x11_->display, x11_->clipboard) == x11_->window;
}

bool TSdlClipboard::InitX11() {
  if (!x11_) {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || std::strcmp(driver, "x11") != 0) return false;
    auto x = std::make_unique<TX11>();
    void* lib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
    if (!lib) return false;
    auto get = [&](auto& f, const char* name) { f = reinterpret_cast<std::remove_reference_t<decltype(f)>>(dlsym(lib, name)); return f != nullptr; };
    const bool all = get(x->InternAtom, "XInternAtom") && get(x->CreateWindow, "XCreateWindow") &&
                     get(x->DestroyWindow, "XDestroyWindow") && get(x->SetSelectionOwner, "XSetSelectionOwner") &&
                     get(x->GetSelectionOwner, "XGetSelectionOwner") && get(x->ChangeProperty, "XChangeProperty") &&
                     get(x->SendEvent, "XSendEvent") && get(x->Flush, "XFlush") &&
                     get(x->MaxRequestSize, "XMaxRequestSize") &&
                     get(x->ExtendedMaxRequestSize, "XExtendedMaxRequestSize");
    dlclose(lib);  // SDL keeps its own handle: the library stays loaded
    if (!all) return false;
    // SDL's connection, found through a hidden window of its own.
    SDL_Window* probe = SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_HIDDEN);
    if (!probe) return false;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(probe, &info) && info.subsystem == SDL_SYSWM_X11) x->display = info.info.x11.display;
    SDL_DestroyWindow(probe);
    if (!x->display) return false;
    XSetWindowAttributes attributes{};
    x->window = x->CreateWindow(x->display, DefaultRootWindow(x->display), -10, -10, 1, 1, 0, CopyFromParent,
                                InputOnly, CopyFromParent, 0, &attributes);
    if (!x->window) return false;
    x->clipboard = x->InternAtom(x->display, "CLIPBOARD", False);
    x->targets = x->InternAtom(x->display, "TARGETS", False);
    x->png = x->InternAtom(x->display, "image/png", False);
    x->bmp = x->InternAtom(x->display, "image/bmp", False);
    x->utf8 = x->InternAtom(x->display, "UTF8_STRING", False);
    x->text_plain_utf8 = x->InternAtom(x->display, "text/plain;charset=utf-8", False);
    x->text = x->InternAtom(x->display, "TEXT", False);
    long units = x->ExtendedMaxRequestSize(x->display);
    if (units <= 0) units = x->MaxRequestSize(x->display);
    x->max_property = units > 64 ? size_t(units) * 4 - 256 : 0;
    x11_ = std::move(x);
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
  }
  return true;
}

void TSdlClipboard::Put(std::map<uint32_t, std::vector<uint8_t>> contents) {
  contents_ = std::move(contents);
  png_.clear();
  bmp_.clear();
  text_utf8_.clear();
  ++stamp_;
  ours_ = true;
  own_selection_ = false;
  if (auto t = contents_.find(CF_UNICODETEXT); t != contents_.end()) {
    std::u16string text(t->second.size() / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), t->second.data(), text.size() * 2);
    text.resize(std::char_traits<char16_t>::length(text.c_str()));  // up to the terminating zero
    text_utf8_ = WideToSystemUTF8(text);
  }
  if (auto d = contents_.find(CF_DIB); d != contents_.end()) {
    bmp_ = DibToBmpFile(d->second);
    int32_t w = 0, h = 0;
    std::vector<uint8_t> rgba;
    if (DibToRgba(d->second, w, h, rgba)) png_ = EncodePng(w, h, rgba);
    own_selection_ = OwnSelection();
    if (own_selection_) return;
  }
  // Text (or nothing) through SDL's clipboard; a bitmap without X11 stays
  // with this program only. Where SDL cannot take the clipboard (an SDL
  // that needs a window of its own to hold it), our window holds the text.
  if (SDL_SetClipboardText(text_utf8_.c_str()) != 0 && !text_utf8_.empty()) {
    own_selection_ = OwnSelection();
  } else if (InitX11()) {
    // SDL leaves its claim on the selection in the connection's buffer until
    // it next reads events: a round trip sends it, so the clipboard is ours
    // when this returns (a program that asks at once would find no owner).
    x11_->GetSelectionOwner(x11_->display, x11_->clipboard);
  }
}

bool TSdlClipboard::Ours() {
  Pump();
  if (own_selection_ && x11_ && x11_->GetSelectionOwner(x11_->display, x11_->clipboard) != x11_->window) {
    own_selection_ = false;
    if (ours_) ++stamp_;
    ours_ = false;
  }
  return ours_;
}

bool TSdlClipboard::Has(uint32_t format) {
  if (Ours()) return contents_.count(format) != 0;
  if (format != CF_UNICODETEXT) return false;
  std::string utf8;
  const int read = ReadForeignText(utf8);
  return read < 0 ? SDL_HasClipboardText() == SDL_TRUE : read > 0;
}

bool TSdlClipboard::Get(uint32_t format, std::vector<uint8_t>& data) {
  if (Ours()) {
    auto it = contents_.find(format);
    if (it == contents_.end()) return false;
    data = it->second;
    return true;
  }
  // Another program's text; its pictures are not read.
  if (format != CF_UNICODETEXT) return false;
  std::string utf8;
  const int read = ReadForeignText(utf8);
  if (read == 0) return false;
  if (read < 0) {
    if (!SDL_HasClipboardText()) return false;
    char* sdl_text = SDL_GetClipboardText();
    if (!sdl_text) return false;
    utf8 = sdl_text;
    SDL_free(sdl_text);
  }
  std::u16string text = SystemUTF8ToWide(utf8);
  data.resize((text.size() + 1) * 2);
  std::memcpy(data.data(), text.c_str(), data.size());
  return true;
}

uint32_t TSdlClipboard::Stamp() {
  Ours();
  return stamp_;
}

void TSdlClipboard::Watch(const void* event) {
  const SDL_Event* e = static_cast<const SDL_Event*>(event);
  if (e->type == SDL_CLIPBOARDUPDATE) {
    // SDL's own window lost the selection: to another program, unless to
    // our bitmap window.
    if (own_selection_ && x11_ && x11_->GetSelectionOwner(x11_->display, x11_->clipboard) == x11_->window) return;
    if (ours_) ++stamp_;
    ours_ = false;
    return;
  }
  if (!x11_ || !e->syswm.msg || e->syswm.msg->subsystem != SDL_SYSWM_X11) return;
  const XEvent& xe = e->syswm.msg->msg.x11.event;
  if (xe.xany.window != x11_->window) return;
  if (xe.type == SelectionRequest) {
    AnswerRequest(&xe.xselectionrequest);
  } else if (xe.type == SelectionClear && xe.xselectionclear.selection == x11_->clipboard) {
    if (own_selection_ && x11_->GetSelectionOwner(x11_->display, x11_->clipboard) != x11_->window) {
      own_selection_ = false;
      if (ours_) ++stamp_;
      ours_ = false;
    }
  }
}

void TSdlClipboard::AnswerRequest(const void* request) {
  const XSelectionRequestEvent& r = *static_cast<const XSelectionRequestEvent*>(request);
  TX11& x = *x11_;
  XEvent reply{};
  reply.xselection.type = SelectionNotify;
  reply.xselection.display = r.display;
  reply.xselection.requestor = r.requestor;
  reply.xselection.selection = r.selection;
  reply.xselection.target = r.target;
  reply.xselection.property = None;  // refused unless answered below
  reply.xselection.time = r.time;
  const Atom property = r.property != None ? r.property : r.target;  // obsolete requestors name none
  const bool has_text = contents_.count(CF_UNICODETEXT) != 0;
  auto give = [&](Atom type, const std::vector<uint8_t>& bytes) {
    // Larger answers would need the incremental protocol: refused.
    if (bytes.size() > x.max_property) return;
    x.ChangeProperty(x.display, r.requestor, property, type, 8, PropModeReplace, bytes.data(), int(bytes.size()));
    reply.xselection.property = property;
  };
  if (r.selection == x.clipboard && own_selection_ && ours_) {
    if (r.target == x.targets) {
      std::vector<Atom> list{x.targets};
      if (!png_.empty()) list.push_back(x.png);
      if (!bmp_.empty()) list.push_back(x.bmp);
      if (has_text)
        for (Atom a : {x.utf8, x.text_plain_utf8, x.text}) list.push_back(a);
      x.ChangeProperty(x.display, r.requestor, property, XA_ATOM, 32, PropModeReplace,
                       reinterpret_cast<const unsigned char*>(list.data()), int(list.size()));
      reply.xselection.property = property;
    } else if (r.target == x.png) {
      give(x.png, png_);
    } else if (r.target == x.bmp) {
      give(x.bmp, bmp_);
    } else if (has_text && (r.target == x.utf8 || r.target == x.text_plain_utf8 || r.target == x.text)) {
      give(r.target == x.text ? x.utf8 : r.target, std::vector<uint8_t>(text_utf8_.begin(), text_utf8_.end()));
    }
  }
  x.SendEvent(x.display, r.requestor, False, 0, &reply);
  x.Flush(x.display);
}

}  // namespace kav::win
