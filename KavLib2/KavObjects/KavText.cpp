#include "KavLib2/KavObjects/KavText.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <unordered_set>

#include "KavLib2/KavClasses/KavKeyFrame.h"
#include "KavLib2/KavObjects/KavButton.h"
#include "KavLib2/KavObjects/KavSlide.h"
#include "KavLib2/KavObjects/KavSlideHost.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "KavLib2/Zel.Exif/Exif.h"
#include "KavLib2/Zel.Exif/IPTCData.h"
#include "VoRav/Graphics/Effects2D/ButtonGenerator.h"
#include "VoRav/Text/vxTextDescriptors.h"
#include "VoRav/TextOut/vxTextBitmapStore.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpThreads2.h"

namespace kav {

namespace {

TIniItem* Key(TKavObjectProps* props, std::u16string_view name) { return props ? props->FindValue(name) : nullptr; }

// A line spacing of -200 or less would give the lines no height (a division
// by zero further on): the spacing is held above it.
constexpr int32_t kMinLineSpacing = -199;

void ClearComments(TKavObject* o) {
  if (auto* t = dynamic_cast<TKavText*>(o); t && t->IsComment()) t->SetIsComment(false);
  for (int32_t i = 0; i < o->ChildCount(); ++i) ClearComments(o->GetChild(i));
}

}  // namespace

void TKavText::Dispose() {
  button_ = nullptr;
  TKavImage::Dispose();
}

void TKavText::SetDefaults() {
  TKavImage::SetDefaults();
  antialiased_ = false;
  FontName = u"Arial";
  FontStyle = 0;
  TextAlign = 1;
  LineSpacing = 0;
  look_ = 0;
  is_comment_ = false;
  auto* button = dynamic_cast<TKavButton*>(parent_);
  if (button && IndexInParent() == 0) {
    AttachToButton(button);
  } else {
    SetColors(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu);
    shadow_enable_ = true;
  }
}

void TKavText::AttachToButton(TKavButton* button) {
  button_ = button;
  button->Caption = this;
  TranspForClick = true;
  shadow_enable_ = false;
  const TColor32 c = button->ThemeTextColor();
  SetColors(c, c, c);
  // The theme's caption inset, on the caption's keyframe, while the button
  // has no picture yet. A caption holds one keyframe; with more or none the
  // first one (if any) takes the inset instead of stopping the slide.
  if (button->Producer() && !button->Picture() && props_ && props_->KeyFrameCount() > 0) {
    const double inset = 100.0 - button->Producer()->ButtonOffset();
    TKavKeyFrame* k = props_->GetKeyFrame(0);
    if (double(k->GetParam(kKeyScaleX)) != inset) {
      k->SetParam(kKeyScaleX, inset);
      k->SetParam(kKeyScaleY, inset);
      props_->Evaluate(props_->CurrentTime());
    }
  }
}

double TKavText::CaptionScaleX() {
  if (!props_ || props_->KeyFrameCount() < 1) return 100.0;
  return props_->GetKeyFrame(0)->GetParam(kKeyScaleX);
}

double TKavText::CaptionAspect() {
  ResolveImage();
  TImage* p = Picture();
  return p && p->Height() > 0 ? double(p->Width()) / p->Height() : 0.0;
}

void TKavText::SetColors(TColor32 normal, TColor32 hover, TColor32 click) {
  if (normal == TextColor && hover == TextColorHover && click == TextColorClick) return;
  TextColor = normal;
  TextColorHover = hover;
  TextColorClick = click;
  UpdateDrawnColors();
  Changed = 1;
}

void TKavText::UpdateDrawnColors() {
  TKavObjectHost* host = ParentQuery();
  auto transform = [&](TColor32 c) { return host ? ColorSetAlpha(host->TransformColor(c), ColorAlpha(c)) : c; };
  drawn_[0] = transform(TextColor);
  drawn_[1] = TextColorHover == TextColor ? drawn_[0] : transform(TextColorHover);
  drawn_[2] = TextColorClick == TextColor ? drawn_[0] : transform(TextColorClick);
}

void TKavText::SetLook(uint8_t look) {
  if (look > 2 || look == look_) return;
  look_ = look;
  VisibilityChanged = 1;
}

void TKavText::SetIsComment(bool v) {
  if (v == is_comment_) return;
  if (v) {
    TKavObject* root = this;
    while (root->Parent()) root = root->Parent();
    ClearComments(root);
  }
  is_comment_ = v;
  Changed = 1;
}

// ---- Loading -------------------------------------------------------------------

void TKavText::Load(TKavObjectProps* props, bool /*reload*/) {
  const std::string raw(IniGetValueBytes(Key(props, u"Text")));
  if (raw != raw_text_) {
    raw_text_ = raw;
    DropPicture();
  }
  if (TKavObjectHost* host = ParentQuery()) host->CancelImageTasks(this);
  queued_picture_.Forget();
  lines_.clear();
  SplitQuotedLines(UTF8Decode(raw_text_), lines_);
  // A caption shows one line.
  if (button_ && lines_.size() > 1) lines_.resize(1);
  bool empty = true;
  for (const std::u16string& l : lines_) empty = empty && l.empty();
  // An empty text still has the height of a line.
  if (empty) lines_.assign(1, u" ");
  dirty_ = true;
  Changed = 1;
  LoadFromIni(props, false);
}

void TKavText::LoadFromIni(TKavObjectProps* props, bool reload) {
  auto colour = [&](std::u16string_view key, TColor32 def) {
    return ParseColorText(IniGetValueBytes(Key(props, key)), def);
  };
  TColor32 normal = TextColor, hover = TextColorHover, click = TextColorClick;
  if (!button_) {
    normal = colour(u"TextColor", 0xFFFFFFFFu);
    hover = colour(u"TextColorHover", normal);
    click = colour(u"TextColorClick", normal);
  } else if (Key(props, u"TextColor")) {
    normal = hover = click = colour(u"TextColor", normal);
    hover = colour(u"TextColorHover", normal);
    click = colour(u"TextColorClick", normal);
  }
  SetColors(normal, hover, click);
  auto set = [&](auto& field, auto value) {
    if (field != value) {
      field = value;
      dirty_ = true;
      Changed = 1;
    }
  };
  set(FontName, props ? props->GetText(u"FontName", u"Arial") : std::u16string(u"Arial"));
  set(FontStyle, FontStyleFromText(props ? props->GetText(u"FontStyle", u"") : std::u16string()));
  set(TextAlign, uint8_t(IniGetIndexOf(Key(props, u"TextAlign"), {u"Left", u"Center", u"Right"}, 1, true)));
  set(LineSpacing, std::max(IniGetInteger(Key(props, u"LineSpacing"), 0), kMinLineSpacing));
  set(Rasterize, IniGetBool(Key(props, u"Rasterize"), false));
  RasterizedGUID = props ? props->GetText(u"RasterizedGUID", u"") : std::u16string();
  const bool comment = IniGetBool(Key(props, u"IsComment"), false);
  TKavImage::LoadFromIni(props, reload);
  SetIsComment(comment);
  SetAntialiased(false);
  // A caption stays transparent for clicks unless the project says otherwise.
  if (button_ && !Key(props, u"TranspForClick")) TranspForClick = true;
  UpdateDrawnColors();
}

// ---- Macros --------------------------------------------------------------------

void TKavText::ExpandMacro(TMTParser*, std::u16string_view macro, std::u16string& value) {
  value.clear();
  TKavSlide* slide = GetSlide();
  if (macro == u"<%SlideIndex%>") {
    value = IntToStr(slide->SlideIndex + 1);
    return;
  }
  if (macro == u"<%SlidesCount%>") {
    auto* host = dynamic_cast<TKavSlideHost*>(ParentQuery());
    value = IntToStr(host ? host->SlideCount : 0);
    return;
  }
  std::u16string name;
  TSize size{0, 0};
  if (!QueryObjectImageInfo(slide, &name, &size)) return;
  if (macro == u"<%MainImg.PathNameExt%>") value = name;
  else if (macro == u"<%MainImg.Width%>") value = IntToStr(size.cx);
  else if (macro == u"<%MainImg.Height%>") value = IntToStr(size.cy);
  else value = PictureMetadata(name, macro);
}

std::u16string TKavText::PictureMetadata(const std::u16string& name, std::u16string_view macro) {
  struct TIptcMacro {
    std::u16string_view Macro;
    uint8_t Dataset;
    bool Repeated;
  };
  static constexpr TIptcMacro kIptc[] = {
      {u"<%MainImg.IPTC.DocumentTitle%>", 5, false},      {u"<%MainImg.IPTC.SpecialInstructions%>", 40, false},
      {u"<%MainImg.IPTC.AuthorByline%>", 80, true},       {u"<%MainImg.IPTC.AuthorTitle%>", 85, true},
      {u"<%MainImg.IPTC.City%>", 90, false},              {u"<%MainImg.IPTC.Sublocation%>", 92, false},
      {u"<%MainImg.IPTC.ProvinceState%>", 95, false},     {u"<%MainImg.IPTC.Country%>", 101, false},
      {u"<%MainImg.IPTC.OTR%>", 103, false},              {u"<%MainImg.IPTC.Headline%>", 105, false},
      {u"<%MainImg.IPTC.Credits%>", 110, false},          {u"<%MainImg.IPTC.Source%>", 115, false},
      {u"<%MainImg.IPTC.Copyright%>", 116, false},        {u"<%MainImg.IPTC.CaptionDescription%>", 120, false},
      {u"<%MainImg.IPTC.CaptionWriter%>", 122, true}};
  const bool exif = macro.starts_with(u"<%MainImg.Exif.");
  const TIptcMacro* iptc = nullptr;
  for (const TIptcMacro& m : kIptc)
    if (m.Macro == macro) iptc = &m;
  if (!exif && !iptc) return {};
  TKavObjectHost* host = ParentQuery();
  TFileAccessor* accessor = host ? host->Accessor() : nullptr;
  if (!accessor) return {};
  try {
    Ref<TStream> stream = accessor->OpenFile(name);
    if (!stream) return {};
    if (exif) {
      TExif e;
      e.Decode(stream.get());
      if (macro == u"<%MainImg.Exif.Date%>" || macro == u"<%MainImg.Exif.Time%>")
        return e.DateTimeOriginal.empty() ? e.DateTime : e.DateTimeOriginal;
      if (macro == u"<%MainImg.Exif.Comment%>") return e.UserComment;
      if (macro == u"<%MainImg.Exif.Description%>") return e.ImageDescription;
      return {};
    }
    stream->SetPosition(0);
    Ref<TIPTCData> data = MakeRef<TIPTCData>();
    data->LoadFromJPEG(stream.get());
    TIPTCSection* section = data->Application();
    if (!section) return {};
    if (!iptc->Repeated) return section->GetString(iptc->Dataset);
    std::u16string joined;
    for (const std::u16string& v : section->GetRepeatableValues(iptc->Dataset)) {
      if (!joined.empty()) joined += u", ";
      joined += v;
    }
    return joined;
  } catch (const Exception&) {
    return {};  // a damaged picture has no fields to show
  }
}

std::vector<std::u16string> TKavText::ExpandedLines() {
  auto parser = MakeRef<TMTParser>(TMacroResolver::Bind<&TKavText::ExpandMacro>(this));
  std::vector<std::u16string> out;
  out.reserve(lines_.size());
  for (const std::u16string& l : lines_) out.push_back(parser->Expand(l));
  return out;
}

// ---- Rendering -----------------------------------------------------------------

std::u16string TKavText::TextKey(double scale) {
  TTextParams p;
  p.FaceName = FontName;
  p.Style = FontStyle;
  p.Alignment = TextAlign;
  p.LineSpacing = LineSpacing;
  p.Scale = scale;
  return TextParamsKey(p, ExpandedLines());
}

namespace {

// True the first time a text is named here in this process: a slide made
// again (the next loop, another window) says nothing new in the log.
bool FirstTimeSaid(const std::u16string& key) {
  static std::mutex lock;
  static std::unordered_set<size_t> said;
  std::lock_guard<std::mutex> hold(lock);
  if (said.size() >= 4096) return false;
  return said.insert(std::hash<std::u16string>()(key)).second;
}

}  // namespace

void TKavText::ResolveImage() {
  if (Rasterize) {
    TKavImage::ResolveImage();
    return;
  }
  TKavObjectHost* host = ParentQuery();
  TFileAccessor* accessor = host ? host->Accessor() : nullptr;
  if (!accessor) return;
  // A rendering the worker finished is taken on this layout; one it could
  // not make is made here at once.
  if (Ref<TImage> done; queued_picture_.Take(done)) {
    TakeRendering(done ? std::move(done) : LoadImageHandle(accessor, rendered_key_));
    if (!button_) FitByHeight();
  }
  // The slide's survey lays texts out as they are; they render after it.
  if (picture_ && GetSlide()->InSurvey()) return;
  if (CurrentThreadStopRequested()) return;  // the slide is being dropped
  // The height the text is shown at: what the slide's survey asks for, else
  // its share of the parent's height.
  const TFloatPoint parent = CopySize();
  double target = RequiredResolution().y;
  if (!(target > 0)) target = std::fabs(ScaleY()) / 100.0 * parent.y;
  if (!(target > 1)) target = 1;
  const std::u16string unit_key = TextKey(1.0);
  TSize unit{0, 0};
  Ref<TTextBitmapStore> store;
  TRect unit_body{0, 0, 0, 0};
  // The body is measured at a scale whose lines are about 128 pixels high
  // and the picture's size at one of 8-pixel lines, whatever em the text
  // was laid out at (a long line measured at the layout's own em would pass
  // the bitmap limits, which cut the size).
  double measure = 1;
  try {
    store = TTextBitmapStore::Create(unit_key, accessor);
    const double line = store->LineHeight();
    if (line > 0 && std::isfinite(line)) measure = 128.0 / line;
    store->GetPixelSize(unit, float(measure / 16));
    store->GetBoundsRect(unit_body, float(measure));
  } catch (const Exception&) {
    unit = TSize{0, 0};
  }
  // The layout was given up (the thread is stopping): nothing is taken, and
  // the text stays to be made again.
  if (CurrentThreadStopRequested()) return;
  if (unit.cx <= 0 || unit.cy <= 0 || unit_body.Bottom <= unit_body.Top) {
    if (!picture_) TakeRendering(LoadImageHandle(accessor, unit_key));  // the host's placeholder
    dirty_ = false;
    return;
  }
  // The text body (the line boxes, without the bitmap's margins) is what
  // takes the target height.
  const double wanted = target / (unit_body.Bottom - unit_body.Top) * measure;
  double scale = wanted;
  // Departure: the rendering follows the size shown within two bounds of
  // its own (kMaxTextBitmapFactor of the slide's height, kMaxTextBitmapPixels
  // in all); the width alone bounds nothing, so a long line keeps its
  // letters sharp and runs off the sides.
  const double height_cap = kMaxTextBitmapFactor * GetSlide()->Size().y / unit.cy * (measure / 16);
  if (height_cap > 0) scale = std::min(scale, height_cap);
  scale = std::min(scale,
                   std::sqrt(double(kMaxTextBitmapPixels) / (double(unit.cx) * double(unit.cy))) * (measure / 16));
  if (scale < wanted * 0.999 && !bound_said_ && FirstTimeSaid(unit_key)) {
    bound_said_ = true;
    const std::u16string first = lines_.empty() ? std::u16string() : lines_.front();
    size_t cut = std::min<size_t>(first.size(), 40);
    if (cut < first.size() && cut > 0 && first[cut - 1] >= 0xD800 && first[cut - 1] < 0xDC00) --cut;  // whole pairs
    LogLine(u"The text \"" + first.substr(0, cut) + (cut < first.size() ? u"...\"" : u"\"") +
            u" is rendered at " + IntToStr(int32_t(std::lround(100 * scale / wanted))) +
            u" % of the size it is shown at (a text's picture holds at most " + IntToStr(int32_t(kMaxTextBitmapPixels)) +
            u" pixels, its lines at most " + IntToStr(int32_t(kMaxTextBitmapFactor)) +
            u" times the slide's height): it shows blurred");
  }
  // Rendered again only when the size needed grows by more than a tenth or
  // shrinks to under half (or anything about the text changed).
  const bool keep = picture_ && !dirty_ && render_scale_ > 0 && scale <= render_scale_ * 1.1 &&
                    scale >= render_scale_ * 0.5 && rendered_key_ == TextKey(render_scale_);
  if (keep) return;
  const std::u16string key = TextKey(scale);
  render_scale_ = scale;
  rendered_key_ = key;
  font_size_ = float((unit_body.Bottom - unit_body.Top) / measure * scale / std::max<size_t>(lines_.size(), 1));
  dirty_ = false;
  // With the host's image-task queue the worker renders it; the text keeps
  // what it has until then.
  if (queued_picture_.Ask(this, host, key, key)) return;
  host->CancelImageTasks(this);
  queued_picture_.Forget();
  TakeRendering(LoadImageHandle(accessor, key));
  if (!button_) FitByHeight();
}

void TKavText::TakeRendering(Ref<TImage> picture) {
  // The body is read from the rendering's own store, so a rendering that
  // arrives late from the worker is fitted by its own scale.
  body_height_ = 0;
  if (auto* store = dynamic_cast<TTextBitmapStore*>(picture ? picture->Store() : nullptr)) {
    TRect body{0, 0, 0, 0};
    store->GetBoundsRect(body, 0);
    body_height_ = std::max(body.Bottom - body.Top, 0);
  }
  TakePicture(std::move(picture));
}

void TKavText::Calculate(bool recursive) {
  // A text is sized by its height: the fit by height holds whichever way
  // round its proportions lie (Scale.X only stretches it). The picture's
  // pixel size never changes the size on the slide, so a new rendering
  // needs no keyframe rescaling.
  ResolveImage();
  FitByHeight();
  TKavImage::Calculate(recursive);
}

TFloatPoint TKavText::FitSize() {
  // The text is sized by its body: the line boxes fill the target height and
  // the bitmap's margins (overhangs, the pixel of padding) lie outside it.
  if (Rasterize || button_ || body_height_ <= 0 || !picture_ || picture_size_.cy <= 0 || !(size_.y > 0))
    return size_;
  const double body = double(body_height_) * size_.y / picture_size_.cy;
  return FloatPoint(float(size_.x * body / size_.y), float(body));
}

TImageDrawParams TKavText::GetDrawParams() {
  TImageDrawParams p = TKavImage::GetDrawParams();
  if (!Rasterize) {
    // The text picture is white; the look's colour tints it when drawn, so
    // hovering and clicking never render again.
    p.Colorize = true;
    p.Color = DrawnColor(look_);
  }
  return p;
}

float TKavText::DrawOpacity() {
  if (button_) return button_->ScaledValue() * ScaledValue() / 100.0f;
  return ScaledValue();
}

double TKavText::ShadowBlurScale() {
  double size = font_size_;
  if (mip_level_ != 0) size = std::ldexp(size, -mip_level_);
  return size / 400.0 * 1.1;
}

}  // namespace kav
