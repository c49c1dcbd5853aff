// Button pictures assembled from the nine parts of a skin.
//
// A button description ("btn.ini" in a button style folder) names, for each
// of three states, nine parts of skin pictures (corners, edges, centre).
// For a state and a width the producer stretches the middle band, shifts
// hue, saturation and lightness, and names the result by a "Button: " key so
// that the show's image cache shares equal buttons.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "VoRav/Graphics/Resample.h"
#include "VoRav/Graphics/vxColor.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/SysObj2.h"
#include "VoRav/vxDelegate.h"

namespace kav {

class TIniList;
class TStream;

inline constexpr std::u16string_view kButtonKeyPrefix = u"Button: ";

enum class TButtonPartKind : int32_t {
  LeftTop, Top, RightTop, Right, RightBottom, Bottom, LeftBottom, Left, Center
};
inline constexpr int32_t kButtonPartCount = 9;
inline constexpr int32_t kButtonStateCount = 3;  // normal, hover, click

struct TButtonPart {
  std::u16string FileName;  // relative to the description's folder
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;  // right and bottom exclusive
};

enum class TButtonFiltering : uint8_t { Nearest = 0, Bilinear = 1, Default = 2 };

// Turns a skin file path into its picture, or nil.
using TSkinLoader = TDelegate<Ref<TImage>(const std::u16string& path)>;

// Draws the picture of an error message (the text layer installs one that
// lays the text out; the plain one is a grey 256 x 32 picture named by the
// message). Never nil.
using TButtonErrorRenderer = Ref<TImage> (*)(const std::u16string& message);
void SetButtonErrorRenderer(TButtonErrorRenderer renderer);
Ref<TImage> MakeButtonErrorImage(const std::u16string& message);

class TButtonProducer : public TRefObject {
 public:
  TButtonProducer(const TSkinLoader& loader, const TResampleProgress& progress);

  // Parses the description text, stores the folder and loads the parts.
  // False when the text cannot be read as INI (nothing is loaded then).
  bool LoadFromFile(TStream* description, const std::u16string& folder);
  // Reads the parts of the three states, the text parameters and the layout
  // size (the normal state's Right part's right edge and Bottom part's bottom
  // edge). Asserts a document.
  void Load(TIniList* document);

  // The button picture of `state` (0 normal, 1 hover, 2 click) at `width`
  // pixels, with hue (degrees), saturation and lightness (percent) shifted.
  // A skin picture that is missing or not exactly the layout size gives the
  // picture of "Incorrect Image: " and its file name. Never nil.
  Ref<TImage> Render(int32_t state, int32_t width, int32_t hue, int32_t saturation, int32_t lightness);
  Ref<TImage> RenderOrError(int32_t state, int32_t width, int32_t hue, int32_t saturation, int32_t lightness) {
    return Render(state, width, hue, saturation, lightness);
  }

  const TButtonPart& Part(int32_t state, TButtonPartKind kind) const {
    return parts_[size_t(state)][size_t(kind)];
  }
  TColor32 TextColor() const noexcept { return text_color_; }
  float ButtonOffset() const noexcept { return offset_; }
  float MinWidth() const noexcept { return min_width_; }
  TButtonFiltering Filtering() const noexcept { return filtering_; }
  int32_t LayoutWidth() const noexcept { return layout_width_; }
  int32_t LayoutHeight() const noexcept { return layout_height_; }
  const std::u16string& Folder() const noexcept { return folder_; }
  bool Loaded() const noexcept { return loaded_; }
  const TSkinLoader& SkinLoader() const noexcept { return loader_; }

 private:
  std::array<std::array<TButtonPart, kButtonPartCount>, kButtonStateCount> parts_{};
  TColor32 text_color_ = 0xFF000000u;
  float offset_ = 0.0f;
  float min_width_ = 0.0f;
  TButtonFiltering filtering_ = TButtonFiltering::Default;
  int32_t layout_width_ = 0;
  int32_t layout_height_ = 0;
  std::u16string folder_;
  bool loaded_ = false;
  TSkinLoader loader_;
  TResampleProgress progress_;
};

// The producers of a show, one per description folder.
class TButtonProducerHost : public TRefObject {
 public:
  TButtonProducerHost(const TSkinLoader& loader, const TResampleProgress& progress)
      : loader_(loader), progress_(progress) {}

  // The producer whose folder equals `path` (the last added first); else a
  // new, unloaded one appended to the list (the caller loads it).
  TButtonProducer* GetProducer(const std::u16string& path);
  int32_t Count() const noexcept { return int32_t(producers_.size()); }

 protected:
  void Dispose() override;

 private:
  std::vector<Ref<TButtonProducer>> producers_;
  TSkinLoader loader_;
  TResampleProgress progress_;
};

// The skin pictures of the whole run, by path: each is loaded once (through
// the loader of the producer that asks first) and kept until the end.
class THashBitmaps {
 public:
  // The cached picture, loading it with `loader` on first use; nil when it
  // cannot be loaded (a failure is not cached). Safe from any thread.
  Ref<TImage> Get(const std::u16string& path, const TSkinLoader& loader);
  void Clear();
  int32_t Count();

 private:
  std::mutex lock_;
  std::unordered_map<std::u16string, Ref<TImage>> images_;
};
THashBitmaps& SkinBitmaps();

// "Button: " + folder + ":" + state + ":" + width + ":" + hue + ":" +
// saturation + ":" + lightness.
std::u16string MakeButtonKey(const std::u16string& folder, int32_t state, int32_t width, int32_t hue,
                             int32_t saturation, int32_t lightness);
// The six values of a key (numbers 0 when they do not convert). The numbers
// are taken from the end, so a folder may hold ":" (a drive name).
void ParseButtonKey(std::u16string_view key, std::u16string& folder, int32_t& state, int32_t& width, int32_t& hue,
                    int32_t& saturation, int32_t& lightness);

}  // namespace kav
