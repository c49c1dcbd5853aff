#include "VoRav/Graphics/SysPixelFormat.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace kav {

namespace {

constexpr uint32_t kMaxComponentBits = 32;
constexpr size_t kMaxComponents = 16;

// The format table. Formats are never removed, so the pointers handed out stay
// valid; the table itself is kept to the end of the process.
struct TFormatTable {
  std::mutex lock;
  std::unordered_map<std::string, Ref<TPixelFormat>> formats;
};

const char* const kNamedFormats[] = {"Y8",       "A8",       "R8G8B8",   "B8G8R8", "A8R8G8B8",
                                     "A8B8G8R8", "X8B8G8R8", "B5G6R5",   "B5G5R5X1", "A8r8g8b8",
                                     "A8b8g8r8", "R5G6B5",   "X1R5G5B5"};

TFormatTable& FormatTable() {
  static TFormatTable* table = [] {
    auto* t = new TFormatTable();
    for (const char* name : kNamedFormats) t->formats.emplace(name, MakeRef<TCommonPixelFormat>(name));
    MarkPremultiplied(t->formats.at("A8r8g8b8").get());
    MarkPremultiplied(t->formats.at("A8b8g8r8").get());
    return t;
  }();
  return *table;
}

}  // namespace

void MarkPremultiplied(TPixelFormat* format) { format->premultiplied_ = true; }

std::vector<TPixelComponent> ParsePixelFormatName(std::string_view name) {
  std::vector<TPixelComponent> comps;
  bool open = false;  // a channel letter was read and waits for its bit count
  bool in_digits = false;
  TPixelComponent cur;
  uint32_t bits = 0;
  auto close = [&] {
    if (open && in_digits && comps.size() < kMaxComponents) {
      cur.Bits = uint8_t(bits);
      comps.push_back(cur);
    }
    open = in_digits = false;
    bits = 0;
  };
  for (char c : name) {
    int channel = -1;
    switch (c) {
      case 'x': case 'X': channel = pcPadding; break;
      case 'r': case 'R': channel = pcRed; break;
      case 'g': case 'G': channel = pcGreen; break;
      case 'b': case 'B': channel = pcBlue; break;
      case 'a': case 'A': case 'y': case 'Y': channel = pcAlpha; break;
      default: break;
    }
    if (channel >= 0) {
      close();
      open = true;
      cur = TPixelComponent{uint8_t(channel), 0};
    } else if (c >= '0' && c <= '9') {
      if (!open) continue;
      in_digits = true;
      bits = std::min<uint32_t>(bits * 10 + uint32_t(c - '0'), kMaxComponentBits);
    } else if (in_digits) {
      close();
    }
  }
  close();
  std::reverse(comps.begin(), comps.end());
  return comps;
}

TCommonPixelFormat::TCommonPixelFormat(std::string_view name) {
  name_ = std::string(name);
  components_ = ParsePixelFormatName(name);
  bool has_colour = false;
  byte_aligned_ = !components_.empty();
  for (const TPixelComponent& c : components_) {
    bits_per_pixel_ += c.Bits;
    if (c.Channel != pcPadding && c.Bits % 8 != 0) bit_field_ = true;
    if (c.Bits != 8) byte_aligned_ = false;
    if (c.Channel == pcAlpha) alpha_ = true;
    if (c.Channel >= pcRed && c.Channel <= pcBlue) has_colour = true;
  }
  kind_ = !has_colour ? pfkNoColor : (alpha_ ? pfkColorAlpha : pfkColor);
  bytes_per_pixel_ = bits_per_pixel_ > 0 ? (bits_per_pixel_ - 1) / 8 + 1 : 1;
}

TPixelFormat* PixelFormatByName(std::string_view name) {
  TFormatTable& t = FormatTable();
  std::lock_guard<std::mutex> guard(t.lock);
  std::string key(name);
  auto it = t.formats.find(key);
  if (it != t.formats.end()) return it->second.get();
  Ref<TPixelFormat> f = MakeRef<TCommonPixelFormat>(name);
  TPixelFormat* raw = f.get();
  t.formats.emplace(std::move(key), std::move(f));
  return raw;
}

const TStdPixelFormats& StdFormats() {
  static const TStdPixelFormats formats = [] {
    TStdPixelFormats f{};
    f.Y8 = PixelFormatByName("Y8");
    f.A8 = PixelFormatByName("A8");
    f.R8G8B8 = PixelFormatByName("R8G8B8");
    f.B8G8R8 = PixelFormatByName("B8G8R8");
    f.A8R8G8B8 = PixelFormatByName("A8R8G8B8");
    f.A8B8G8R8 = PixelFormatByName("A8B8G8R8");
    f.X8B8G8R8 = PixelFormatByName("X8B8G8R8");
    f.B5G6R5 = PixelFormatByName("B5G6R5");
    f.B5G5R5X1 = PixelFormatByName("B5G5R5X1");
    f.A8r8g8b8 = PixelFormatByName("A8r8g8b8");
    f.A8b8g8r8 = PixelFormatByName("A8b8g8r8");
    f.R5G6B5 = PixelFormatByName("R5G6B5");
    f.X1R5G5B5 = PixelFormatByName("X1R5G5B5");
    return f;
  }();
  return formats;
}

}  // namespace kav
