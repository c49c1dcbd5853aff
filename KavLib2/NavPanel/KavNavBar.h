// Navigation bars: the picture the navigation panel shows. A bar paints its
// own bitmap from a skin, repaints it when the mouse hovers or presses its
// buttons and reports through callbacks. TCustomNavBar is the base with the
// callback set; bars are made by skin type through the CreateNavBar factory
// chain. TNavBar is the button bar: a grid of skin cells with a row of
// buttons in one cell.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/SysObj2.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/vxIni.h"

namespace kav {

class TCustomNavBar;

// Skin values are hostile input: counts and sizes are capped.
inline constexpr int32_t kNavMaxGrid = 32;        // columns or rows
inline constexpr int32_t kNavMaxObjects = 64;     // buttons of a bar
inline constexpr int32_t kNavMaxBarSide = 8192;   // pixels of a bar side

// Mouse event kinds and the held-left-button bit of the shift state.
enum : uint8_t { kNavMouseMove = 0, kNavMouseDown = 1, kNavMouseUp = 2 };
inline constexpr uint32_t kNavShiftLeft = 1u << 16;

struct TNavBarCallbacks {
  TDelegate<void(TCustomNavBar*, const TRect&)> BarChanged;
  TDelegate<void(TCustomNavBar*, const TRect&)> CornerChanged;
  TDelegate<void(TCustomNavBar*, int32_t)> Button;
  TDelegate<bool(TCustomNavBar*)> IsPlaying;
  // Leaves the bitmap null when the picture cannot be opened.
  TDelegate<void(TCustomNavBar*, const std::u16string&, Ref<TSysBitmap>&)> LoadImage;
  TDelegate<double(TCustomNavBar*)> Duration;
  TDelegate<void(TCustomNavBar*, double)> GoToTime;
  TDelegate<void(TCustomNavBar*, double)> SetVolume;
  TDelegate<bool(TCustomNavBar*)> CornerQuery;
};

class TCustomNavBar : public TRefObject {
 public:
  // Names of the selectable objects; items index into them.
  std::vector<std::u16string> ObjectNames;
  std::vector<int32_t> Items;
  Ref<TSysBitmap> BarBitmap;
  Ref<TSysBitmap> CornerBitmap;
  TNavBarCallbacks On;
  bool ShowBackground = false;
  int32_t Hue = 0;

  // The skin document is kept by the bar; the folder is where its pictures are.
  virtual void LoadSkin(Ref<TIniFile> doc, const std::u16string& folder) = 0;
  // Uses the first `count` entries of `items`.
  virtual void SetItems(const std::vector<int32_t>& items, int32_t count);
  virtual void MouseEvent(int32_t button, uint32_t shift, int32_t x, int32_t y, uint8_t kind) = 0;
  virtual void SetTime(double time) = 0;
  virtual void SetVolume(double volume) = 0;
  virtual void SetFrameWidth(int32_t width) = 0;
  virtual void SetBarHeight(int32_t height) = 0;
  virtual void SetScale(double scale) = 0;

  // Index of a name in the object names (case-insensitive), -1 when missing.
  int32_t IndexOfObjectName(std::u16string_view name) const;
};

// The factory chain: each factory makes its own types and passes every other
// type to the one it replaced.
using TNavBarFactory = Ref<TCustomNavBar> (*)(const std::u16string& type);
// Makes a bar for the skin type through the head of the chain.
Ref<TCustomNavBar> CreateNavBar(const std::u16string& type);
// Puts `factory` at the head; answers the one it replaced.
TNavBarFactory PushNavBarFactory(TNavBarFactory factory);

// Rounds to the nearest integer, halves to even; not-a-number gives 0 and
// values are held within +-1e9.
int32_t NavRound(double v);
// ASCII lower case (skin and action names).
std::u16string NavLower(std::u16string_view s);

// A skin value split at commas outside double quotes, each part trimmed.
std::vector<std::u16string> SplitNavValue(std::u16string_view value);
// A skin integer; `def` when the text is no number. Values are held within
// +-kNavMaxBarSide * 4.
int32_t NavValueInt(std::u16string_view text, int32_t def);
// The rectangle (left, top, left + width, top + height) from four values
// (width and height held within 0..kNavMaxBarSide). Fewer or more raise the
// skin assertion.
TRect ParseNavBounds(const std::vector<std::u16string>& values);

// Pictures of one skin, loaded once per file name; grey and dimmed copies
// made once per bounds.
class TBmpCacheItem : public TRefObject {
 public:
  Ref<TSysBitmap> Bitmap;  // null when the file is missing
  // The full bitmap, or a grey (dimmed when `disabled`) copy of `bounds`,
  // after which `bounds` is the copy's own rectangle.
  TSysBitmap* GetPicture(TRect& bounds, bool grey, bool disabled);

 private:
  std::map<std::string, Ref<TSysBitmap>> derived_;
};

class TBmpCache : public TRefObject {
 public:
  TBmpCache(TCustomNavBar* bar, std::u16string folder) : bar_(bar), folder_(std::move(folder)) {}
  TBmpCacheItem* GetItem(const std::u16string& name);

 private:
  TCustomNavBar* bar_;
  std::u16string folder_;
  std::map<std::u16string, Ref<TBmpCacheItem>> items_;
};

// The button bar.
class TNavBar : public TCustomNavBar {
 public:
  struct TPicture {
    TSysBitmap* Bitmap = nullptr;  // owned by the cache
    TRect Bounds;
  };
  // A cell of the grid (TNavCell); the bar's vector of them, row by row, is
  // TNavCells.
  struct TCell {
    TPicture Picture;
    int32_t X = 0, Y = 0, Width = 0, Height = 0;
  };
  // An object of the bar (TNavObject); the bar's vector of them is
  // TNavObjects.
  struct TObject {
    TPicture Button[4];
    TPicture PlayButton[4];
    TPicture Background[4];
    uint8_t State = 0;  // 0 normal, 1 hover, 2 pressed, 3 disabled
    int32_t X = 0, Y = 0, Width = 0, Height = 0;
    int32_t Space = 0;
    int32_t ShiftPressed = 0;
    bool GrayNormal = false, GrayDisabled = false, HasPlay = false;
    TRect Box() const { return TRect{X, Y, X + Width, Y + Height}; }
  };

  TNavBar();

  void LoadSkin(Ref<TIniFile> doc, const std::u16string& folder) override;
  void SetItems(const std::vector<int32_t>& items, int32_t count) override;
  void MouseEvent(int32_t button, uint32_t shift, int32_t x, int32_t y, uint8_t kind) override;
  void SetTime(double time) override;
  void SetVolume(double) override {}
  void SetFrameWidth(int32_t) override {}
  void SetBarHeight(int32_t) override {}
  void SetScale(double) override {}

  void SetObjectState(size_t index, uint8_t state);
  void Redraw();

  int32_t BarWidth() const { return bar_width_; }
  int32_t BarHeight() const { return bar_height_; }
  const std::vector<TObject>& Objects() const { return objects_; }
  const TCell* Cell(int32_t column, int32_t row) const;

 protected:
  void Dispose() override;

 private:
  TCell* CellAt(int32_t column, int32_t row);
  void Layout();
  void AddDirty(const TRect& r);
  void Move(uint32_t shift, int32_t x, int32_t y);
  bool Inside(int32_t x, int32_t y) const;

  Ref<TIniFile> doc_;
  std::u16string folder_;
  int32_t bar_width_ = 0, bar_height_ = 0;
  int32_t columns_ = 0, rows_ = 0;
  std::vector<TCell> cells_;
  std::vector<TObject> objects_;
  int32_t left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
  int32_t object_column_ = 1, object_row_ = 1;
  Ref<TBmpCache> cache_;
  TRect dirty_;
  bool last_playing_ = true, first_time_ = true;
  bool pressing_ = false;
  int32_t pressed_ = -1;
  bool mouse_over_ = false;
  bool skin_loaded_ = false;
};

}  // namespace kav
