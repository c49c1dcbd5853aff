#include "VoRav/Graphics/Effects2D/ButtonGenerator.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysHSLAdjust.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/vxByteStringLists.h"
#include "VoRav/vxByteStringUtils.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxIni.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

constexpr int32_t kMaxSkinCoordinate = 1 << 20;

constexpr std::u16string_view kStateSections[kButtonStateCount] = {u"NormalState", u"HoverState", u"ClickState"};
constexpr std::u16string_view kPartKeys[kButtonPartCount] = {u"LeftTop",    u"Top",  u"RightTop",
                                                             u"Right",      u"RightBottom", u"Bottom",
                                                             u"LeftBottom", u"Left", u"Center"};

Ref<TImage> PlainErrorImage(const std::u16string& message) {
  Ref<TSysBitmap> b = CreateSysBitmap(256, 32, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, 256, 32}, 0xFF646464u);
  return ImageFromBitmap(b.release(), true, message);
}

std::atomic<TButtonErrorRenderer> g_error_renderer{PlainErrorImage};

TButtonPart ReadPart(TIniList* section, std::u16string_view key) {
  TButtonPart part;
  TIniItem* item = IniFindKey(section, key);
  if (!item) return part;
  TByteStringParts fields;
  IniSplitValue(item, ',', fields);
  part.FileName = ByteStringListGetString(fields, 0);
  // Held well inside the 32-bit range, so that widths and differences of
  // coordinates cannot overflow; no skin is anywhere near this size.
  auto coord = [&](int n) {
    return std::clamp(ByteStringListGetInt(fields, n, 0), -kMaxSkinCoordinate, kMaxSkinCoordinate);
  };
  part.Left = coord(1);
  part.Top = coord(2);
  part.Right = coord(3);
  part.Bottom = coord(4);
  return part;
}

// The text parameters: an object of the document itself, else of the first
// section that holds one.
TIniObject* FindTextParams(TIniList* document) {
  if (TIniObject* o = document->FindObject(u"TextParams")) return o;
  if (TIniFile* file = dynamic_cast<TIniFile*>(document))
    for (int32_t i = 0; i < file->Sections()->Count(); ++i)
      if (TIniObject* o = IniFindObject(file->Sections()->GetSection(i), u"TextParams")) return o;
  return nullptr;
}

// Copies skin column `sx` to result column `dx` over rows [y0, y1), both
// clipped: part rectangles come from the description and may lie anywhere.
void CopyColumn(TSysBitmap* skin, int32_t sx, TSysBitmap* out, int32_t dx, int32_t y0, int32_t y1) {
  if (sx < 0 || sx >= skin->Width() || dx < 0 || dx >= out->Width()) return;
  y0 = std::max(y0, 0);
  y1 = std::min({y1, skin->Height(), out->Height()});
  for (int32_t y = y0; y < y1; ++y) std::memcpy(out->PixelAddress(dx, y), skin->PixelAddress(sx, y), 4);
}

}  // namespace

void SetButtonErrorRenderer(TButtonErrorRenderer renderer) { g_error_renderer = renderer ? renderer : PlainErrorImage; }

Ref<TImage> MakeButtonErrorImage(const std::u16string& message) { return g_error_renderer.load()(message); }

TButtonProducer::TButtonProducer(const TSkinLoader& loader, const TResampleProgress& progress)
    : loader_(loader), progress_(progress) {}

bool TButtonProducer::LoadFromFile(TStream* description, const std::u16string& folder) {
  Ref<TIniFile> doc = MakeRef<TIniFile>();
  if (!description || !doc->LoadFrom(description)) return false;
  folder_ = folder;
  Load(doc.get());
  return true;
}

void TButtonProducer::Load(TIniList* document) {
  KAV_ASSERT(document != nullptr);
  for (int32_t s = 0; s < kButtonStateCount; ++s) {
    TIniList* section = document->FindSection(kStateSections[s]);
    // An empty name finds the document itself; a missing section reads as
    // empty parts.
    if (section == document) section = nullptr;
    for (int32_t p = 0; p < kButtonPartCount; ++p) parts_[size_t(s)][size_t(p)] = ReadPart(section, kPartKeys[p]);
  }
  TIniObject* text = FindTextParams(document);
  text_color_ = ParseColorText(IniGetValueBytes(IniFindKey(text, u"Color")), 0xFF000000u);
  offset_ = float(IniGetFloat(IniFindKey(text, u"BtnOffset"), 0.0));
  min_width_ = float(IniGetFloat(IniFindKey(text, u"BtnMinWidth"), 0.0));
  filtering_ = TButtonFiltering(
      IniGetIndexOf(IniFindKey(text, u"Filtering"), {u"Nearest", u"Bilinear", u"Default"}, 2, true));
  layout_width_ = Part(0, TButtonPartKind::Right).Right;
  layout_height_ = Part(0, TButtonPartKind::Bottom).Bottom;
  loaded_ = true;
}

Ref<TImage> TButtonProducer::Render(int32_t state, int32_t width, int32_t hue, int32_t saturation,
                                    int32_t lightness) {
  static const std::array<TButtonPart, kButtonPartCount> kEmpty{};
  const auto& parts = state >= 0 && state < kButtonStateCount ? parts_[size_t(state)] : kEmpty;
  auto part = [&](TButtonPartKind k) -> const TButtonPart& { return parts[size_t(k)]; };
  const int32_t lw = part(TButtonPartKind::Left).Right;
  const int32_t rw = part(TButtonPartKind::Right).Right - part(TButtonPartKind::Right).Left;
  const int32_t h = layout_height_;
  // Narrower than the two side columns, the right parts would land left of
  // the left edge: the width is held at their sum.
  width = std::max(width, std::max(lw, 0) + std::max(rw, 0));
  if (!BitmapSizeAllowed(width, h, 4)) return MakeButtonErrorImage(u"Incorrect Image: " + folder_);
  Ref<TSysBitmap> out = CreateSysBitmap(width, h, StdFormats().A8R8G8B8);
  KAV_ASSERT(out);

  const int32_t mid_top = part(TButtonPartKind::Top).Bottom;
  const int32_t mid_bottom = h - (part(TButtonPartKind::Bottom).Bottom - part(TButtonPartKind::Bottom).Top);
  const int32_t band_left = lw, band_right = width - rw;  // columns [band_left, band_right)

  static constexpr TButtonPartKind kOrder[] = {
      TButtonPartKind::Center,   TButtonPartKind::Top,         TButtonPartKind::Bottom,
      TButtonPartKind::Left,     TButtonPartKind::Right,       TButtonPartKind::LeftTop,
      TButtonPartKind::RightTop, TButtonPartKind::RightBottom, TButtonPartKind::LeftBottom};
  for (TButtonPartKind kind : kOrder) {
    const TButtonPart& p = part(kind);
    Ref<TImage> image = SkinBitmaps().Get(folder_ + u"\\" + p.FileName, loader_);
    if (!image || image->Width() != layout_width_ || image->Height() != layout_height_)
      return MakeButtonErrorImage(u"Incorrect Image: " + p.FileName);
    Ref<TBitmap> level = image->Store()->GetMipLevel(0, StdFormats().A8R8G8B8, &TSysBitmap::kClass);
    TSysBitmap* skin = AsSysBitmap(level.get());
    if (!skin) return MakeButtonErrorImage(u"Incorrect Image: " + p.FileName);

    bool stop = false;
    auto column_done = [&] {
      if (progress_) progress_(this, stop);
      return !stop;
    };
    switch (kind) {
      case TButtonPartKind::Center:
        for (int32_t x = band_left; x < band_right; ++x) {
          CopyColumn(skin, p.Left, out.get(), x, mid_top, mid_bottom);
          if (!column_done()) break;
        }
        break;
      case TButtonPartKind::Top:
      case TButtonPartKind::Bottom:
        for (int32_t x = band_left; x < band_right; ++x) {
          CopyColumn(skin, p.Left, out.get(), x, p.Top, p.Bottom);
          if (!column_done()) break;
        }
        break;
      case TButtonPartKind::Left:
      case TButtonPartKind::LeftTop:
      case TButtonPartKind::LeftBottom: {
        const bool middle = kind == TButtonPartKind::Left;
        for (int32_t x = p.Left; x < p.Right; ++x) {
          CopyColumn(skin, x, out.get(), x, middle ? mid_top : p.Top, middle ? mid_bottom : p.Bottom);
          if (!column_done()) break;
        }
        break;
      }
      default: {  // the right column: Right, RightTop, RightBottom
        const bool middle = kind == TButtonPartKind::Right;
        for (int32_t i = 0; i < p.Right - p.Left; ++i) {
          CopyColumn(skin, p.Left + i, out.get(), width - rw + i, middle ? mid_top : p.Top,
                     middle ? mid_bottom : p.Bottom);
          if (!column_done()) break;
        }
        break;
      }
    }
  }
  HSLAdjustPixels(out.get(), TRect{0, 0, width, h}, this, lightness, saturation, hue);
  return ImageFromBitmap(out.release(), true, MakeButtonKey(folder_, state, width, hue, saturation, lightness));
}

TButtonProducer* TButtonProducerHost::GetProducer(const std::u16string& path) {
  for (auto it = producers_.rbegin(); it != producers_.rend(); ++it)
    if ((*it)->Folder() == path) return it->get();
  producers_.push_back(MakeRef<TButtonProducer>(loader_, progress_));
  return producers_.back().get();
}

void TButtonProducerHost::Dispose() {
  producers_.clear();
  TRefObject::Dispose();
}

Ref<TImage> THashBitmaps::Get(const std::u16string& path, const TSkinLoader& loader) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = images_.find(path);
  if (it != images_.end()) return it->second;
  if (!loader) return nullptr;
  Ref<TImage> image = loader(path);
  if (image) images_.emplace(path, image);
  return image;
}

void THashBitmaps::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  images_.clear();
}

int32_t THashBitmaps::Count() {
  std::lock_guard<std::mutex> guard(lock_);
  return int32_t(images_.size());
}

THashBitmaps& SkinBitmaps() {
  static THashBitmaps* cache = new THashBitmaps();  // lives to the end of the run
  return *cache;
}

std::u16string MakeButtonKey(const std::u16string& folder, int32_t state, int32_t width, int32_t hue,
                             int32_t saturation, int32_t lightness) {
  std::u16string k(kButtonKeyPrefix);
  k += folder;
  for (int32_t v : {state, width, hue, saturation, lightness}) {
    k += u':';
    k += IntToStr(v);
  }
  return k;
}

void ParseButtonKey(std::u16string_view key, std::u16string& folder, int32_t& state, int32_t& width, int32_t& hue,
                    int32_t& saturation, int32_t& lightness) {
  // The five numbers are split off from the end: a folder with a drive name
  // ("C:\...") holds a ":" of its own, and splitting from the front would
  // cut the folder there and shift every number.
  std::u16string_view rest = key.size() > 8 ? key.substr(8) : std::u16string_view();
  int32_t* numbers[5] = {&state, &width, &hue, &saturation, &lightness};
  for (int32_t i = 4; i >= 0; --i) {
    const size_t colon = rest.rfind(u':');
    if (colon == std::u16string_view::npos) {
      // Fewer fields than the key has: what is left is the folder.
      for (int32_t j = i; j >= 0; --j) *numbers[j] = 0;
      break;
    }
    *numbers[i] = StrToIntDef(rest.substr(colon + 1), 0);
    rest = rest.substr(0, colon);
  }
  folder = std::u16string(rest);
}

}  // namespace kav
