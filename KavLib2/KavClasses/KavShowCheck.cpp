#include "KavLib2/KavClasses/KavShowCheck.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <map>
#include <set>
#include <string_view>
#include <vector>

#include "KavLib2/Effects/KavEffManager.h"
#include "KavLib2/KavClasses/KavEffect.h"
#include "KavLib2/KavClasses/KavKeyFields.h"
#include "KavLib2/KavClasses/KavSlideOrder.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxByteStringUtils.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxSoundKind.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

// The words the readers of slide objects, effects, music and video look up,
// trailing numbers left out (keys such as "Color1" are built by number).
// An object's key that is none of these is read by nobody.
constexpr std::string_view kKnownWords[] = {
    "3DShadow", "3dvolume", "Absolute", "Action", "AdobeRGB", "Alpha", "Amount", "AnEffect", "Angle", "AngleX",
    "AngleY", "AniImage", "AnimColumns", "AnimCount", "AnimEnable", "AnimInterval", "AnimOffset", "AnimRepCount",
    "AnimRows", "Antialiased", "AntialiasedBorder", "appearence", "appimage", "aqua", "Arial", "ash", "Aspect",
    "at", "attrib", "Auto", "avx", "awk", "backward", "BarSize", "bash", "bat", "batch", "bcolor", "bcolorStyle",
    "BeginTime", "bfn", "BgLeft", "BgRight", "BgTexture", "Bilinear", "bin", "Blur", "BobEven", "BobOdd", "Bold",
    "BorderColor", "BorderWidth", "Bottom", "BottomOffset", "Bounds", "Box", "Bright", "BrightContrast",
    "Brightness", "bsize", "bstyle", "BtnMinWidth", "BtnOffsetX", "BtnOpacity", "BtnSize", "BtnTexture", "builtin",
    "bun", "busybox", "Button", "Buttons", "ButtonsTrackSpace", "call", "caption", "Cell", "CellWithObjects",
    "Center", "CenterMode", "CenterPos", "centerx", "centery", "changeprinter", "chattr", "checked", "chgrp",
    "ChildInvis", "chmod", "chown", "ChromaDelta", "ChromaEnable", "Chromakey", "chroot", "chrt", "ClipCaption",
    "ClipGUID", "close", "closedialog", "cmake", "cmd", "Color", "color_grade_chroma_deinter",
    "color_grade_chromakey", "color_grade_deinter", "color_grade_linear", "color_grade_video", "color_grading",
    "ColorCorrect", "Colorisation", "Colorization", "ColorManagement", "cols", "ColsCount", "com", "Combo",
    "command", "Common", "Container", "Contents", "Contrast", "copy", "Count", "Cover", "CoverMode", "cp",
    "crontab", "CropRect", "Cross", "CrossMode", "cscript", "csh", "curl", "curling", "Custom", "custom_dialog",
    "CustomEffBg", "CustomEffTime", "damaged", "dash", "dd", "Def", "Default", "defowntime", "DeinterlaceType",
    "del", "DeltaTime", "deltree", "deno", "depth", "desktopalign", "dialog_", "DialogPause", "DigitSize",
    "DigitsSoundBtnSpace", "direction", "Disable", "Disabled", "display", "dissolve", "distance", "doas", "dotnet",
    "dst", "Duration", "DuvazURI", "ed", "effect_", "EffectResource", "elf", "elvish", "emacs", "EnableAspect",
    "EnableBorder", "EnableCrop", "Env", "erase", "error", "eval", "ex", "exe", "exec", "ExeGUID", "exename",
    "Exit", "expect", "FadeCount", "FadeIn", "FadeOut", "False", "fdisk", "FileMap", "FileName", "FillMode",
    "Filter", "filter_", "Filtering", "filteropt_", "find", "fish", "FitMode", "flip", "flnm_back",
    "flnm_BgTexture", "flnm_BtnTexture", "flnm_BtnTextureNormalPlay", "flnm_Click", "flnm_Hover", "flnm_Line",
    "flnm_Normal", "flnm_Polzun", "flnm_Texture", "Float", "flock", "fn", "FontName", "FontStyle", "for", "format",
    "forward", "found", "FPSMultiplier", "Frame", "ftp", "func", "gates", "gauss_blur_h", "gauss_blur_v",
    "gauss_mix", "gawk", "gdb", "gdbserver", "gio", "git", "gl", "gmake", "gotofirstslide", "GrayDisabled",
    "GrayNormal", "group", "GroupBasic", "GroupFromProjectOptions", "grps", "GUID", "guile", "halt", "Help",
    "HGradient", "HideMode", "hold", "HOME", "hourhand", "Hover", "HSL", "Hue", "i", "icc", "id", "Image",
    "ImageIndex", "ImageName", "install", "Int", "Invert", "ionice", "ipython", "irb", "IsComment", "islocal",
    "IsMute", "IsRepeat", "Italic", "jar", "java", "jimsh", "jrunscript", "js", "jshell", "julia", "KAV_D3D_NO_AVX",
    "KAV_DEVICE", "kavplay", "KavShow", "KavVersion", "key", "KeyPoint", "kill", "killall", "konsole", "ksh", "ld",
    "ldd", "Left", "LeftOffset", "LeftSpace", "less", "Levels", "Lightness", "LineSpacing", "LinkedAudio", "linux",
    "lksh", "lldb", "ln", "LoadFromDisk", "loop", "ltrace", "lua", "luajit", "Main", "MainVolume", "make", "man",
    "MaskContent", "MaskStencil", "MasterID", "mawk", "Max", "Med", "Min", "MinorVersion", "MipLodBias", "mkfs",
    "mksh", "Mod", "mono", "more", "mosaic", "mount", "move", "mshta", "Music", "music_disable", "Mute",
    "MuteVolume", "mv", "name", "NavPanel", "nawk", "nc", "ncat", "Nearest", "net", "netcat", "never", "newgrp",
    "next", "NextEffectBegin", "nextslide", "nice", "node", "nodejs", "nohup", "noicc", "None", "nonlinear_speed",
    "Normal", "nsenter", "nu", "nvim", "Object", "Objects", "offset", "OffsX", "OffsY", "oksh", "Opacity", "opt_",
    "opt_allowrunapp", "opt_bstyle", "opt_cp", "opt_customdialogscount", "opt_dblclick", "opt_exefn",
    "opt_exitonmove", "opt_fcp", "opt_fullyplaysound", "opt_hc2_hideinterval", "opt_hidecursor", "opt_hidenavbar",
    "opt_leftmouse", "opt_lockf", "opt_lockwheel", "opt_logo", "opt_logo_fn", "opt_logo_offset", "opt_logo_opacity",
    "opt_logo_pos", "opt_logo_size", "opt_manualshow", "opt_nav_fadein", "opt_nav_hidefadeout",
    "opt_nav_hideinterval", "opt_nav_hue", "opt_nav_inifile", "opt_nav_offset", "opt_nav_showbg",
    "opt_nav_usevideoscale", "opt_nav_videoexit", "opt_nav_viewscale", "opt_nav_wndbottom", "opt_newnavbutton",
    "opt_newnavbuttons_count", "opt_oggpath", "opt_pausewheninactive", "opt_repeat", "opt_rightmouse",
    "opt_runapponexit", "opt_runapponexitfn", "opt_runapponexitiflastslide", "opt_scr_caption", "opt_scr_full",
    "opt_scr_fullfixedsize", "opt_scr_height", "opt_scr_hidercolor", "opt_scr_ratio", "opt_scr_unsharpamount",
    "opt_scr_width", "opt_slidescount", "opt_ssaver", "opt_synchpermitcontrol", "opt_synchpos", "opt_syncmode",
    "opt_withoutborder", "opt_wmapath", "Origin", "osascript", "out", "owns", "page", "parallel", "PATH",
    "PathModifiers", "PathToButtons", "Pause", "pcount", "pdksh", "Percent", "perl", "Pers_EndAction",
    "Pers_RunApp", "php", "Picture", "pinfo", "pipe", "pkexec", "pkill", "pl", "PlaceInto", "Play", "Pos", "posh",
    "Position", "PosMode", "poweroff", "powershell", "premul", "Preset", "Pressed", "PrevEffectEnd", "previous",
    "prevslide", "print", "ProjectFilePath", "projectname", "push", "pwsh", "py", "pypy", "python", "qstart",
    "quick", "radius", "range", "Rasterize", "RasterizedGUID", "rb", "rbash", "rcp", "rd", "reboot", "recover",
    "ref", "regedit", "regedt", "regsrv", "regsvr", "ren", "rename", "repeat", "replace", "ReplaceWithEffectBuffer",
    "resize", "Resources", "RestoreAlpha", "Right", "RightOffset", "RightSpace", "rm", "rmdir", "Root",
    "RotationState", "rows", "RowsCount", "rscript", "rsync", "ruby", "run", "RunAppFN", "runas", "rundll",
    "runonce", "runuser", "Saturation", "saveslide", "Scale", "ScaleMode", "ScaleTimes", "ScaleX", "ScaleY", "scp",
    "screen", "script", "sed", "service", "setarch", "setsid", "sftp", "sg", "sh", "ShadowAngle", "ShadowColor",
    "ShadowDistance", "ShadowEnable", "ShadowOpacity", "ShadowSize", "ShadowSpreadIndex", "shapes", "ShiftPressed",
    "shred", "shutdown", "Size", "Slide", "slide_", "SlideBegin", "SlideEffectBuffer", "SlideEnd", "slideid",
    "smoothline", "so", "socat", "Solid", "SoundBtnTrackSpace", "source", "Space", "spin_center", "Splitter",
    "sqlite", "sRGB", "ssh", "start", "StartKAVTime", "StartSlideIdx", "StartTime", "StartVideoTime", "stdbuf",
    "stdidx", "stop", "strace", "StrikeOut", "String", "su", "sudo", "sudoedit", "sw", "swap", "sys", "systemctl",
    "tar", "taskset", "tcl", "tclsh", "tcsh", "tee", "telnet", "Text", "TextAlign", "TextColor", "TextColorClick",
    "TextColorHover", "tftp", "TheEffect", "Theme", "Time", "TimeLine", "timeout", "Times", "TLBRGradient",
    "TMusicItem", "TMusicOptions", "TMusicTrack", "tmux", "to", "Top", "TopOffset", "toybox", "Trackbar",
    "TrackDigitsSpace", "TrackHeight", "TrackLineLeft", "TrackLineRight", "Tracks", "TransparentBg",
    "TranspForClick", "TRBLGradient", "TreeNode", "True", "truncate", "TSoundComment", "type", "umount", "uname",
    "Underline", "unlink", "unshare", "unsharp", "up", "usecolor", "userprops", "usevolume", "valgrind", "value",
    "VGradient", "vi", "Video", "VideoClip", "videomask", "VideoStyle", "view", "viewer", "ViewPort", "vim", "Vol_",
    "Vol_j_", "Volume", "VolumeControlLength", "VolumeParams", "WaitForConvert", "watch", "Wave", "wget", "wine",
    "wish", "Word", "wscript", "x86_", "xargs", "xcopy", "XDG_STATE_HOME", "xonsh", "xterm", "yash", "YUVsRGB",
    "zip", "Zoom", "ZPos", "zsh",
};

// The object kinds the readers of a slide make something of.
constexpr std::string_view kSlideClasses[] = {
    "Frame", "Box", "Splitter", "Image", "AniImage", "Text", "Button", "Video", "ViewPort", "MaskStencil",
    "MaskContent", "KeyPoint", "Mod", "AnEffect", "Effect", "TMusic", "TMusicTrack", "TMusicItem", "TMusicOptions",
    "TSoundComment", "VideoClip"};

// The transition kinds an effect of the show's list may be named by.
constexpr std::string_view kEffectKinds[] = {"dissolve", "hourhand", "shapes", "gates", "page",  "mosaic",
                                             "push",     "slide",    "curling", "flip", "swap"};

// The sections the player reads by name (slides are "Slide" and a number).
constexpr std::string_view kKnownSections[] = {"Main",        "Times",   "Slide",   "RotationState", "PathModifiers",
                                               "Tracks",      "MainVolume", "FileMap"};

struct TChoiceKey {
  std::string_view Key;
  std::array<std::string_view, 5> Names;
};
// Keys whose value is one of a few names (any case).
constexpr TChoiceKey kChoiceKeys[] = {
    {"FitMode", {"None", "PlaceInto", "Cover"}},
    {"PosMode", {"Absolute", "Percent"}},
    {"CenterMode", {"Absolute", "Percent"}},
    {"FillMode", {"Solid", "HGradient", "VGradient", "TLBRGradient", "TRBLGradient"}},
};
// Keys whose value is a number, with what a value that does not read
// becomes.
struct TNumberKey {
  std::string_view Key;
  std::u16string_view ReadsAs;
};
constexpr TNumberKey kNumberKeys[] = {
    {"Time", u"0, the slide's start"},
    {"ScaleX", u"100, the default: as wide as what holds it"},
    {"ScaleY", u"100, the default: as high as what holds it"},
    {"Opacity", u"100, the default: fully opaque"},
    {"Angle", u"0, the default"},
    {"AngleX", u"0, the default"},
    {"AngleY", u"0, the default"},
    {"ZPos", u"0, the default"},
    {"Blur", u"0, the default"},
};

// Keys of music items and sound comments: whole numbers, milliseconds but
// for the volume (percent), and what a value that does not read becomes.
struct TMusicKey {
  std::string_view Key;
  bool Milliseconds;
  std::u16string_view ReadsAs;
};
constexpr TMusicKey kMusicKeys[] = {
    {"Duration", true,
     u"0, no length: alone the piece is not heard, and before other pieces it plays on under them to the end of "
     u"its file"},
    {"StartTime", true, u"0: the piece plays from the start of its file"},
    {"FadeIn", true, u"0: no fade-in"},
    {"FadeOut", true, u"0: no fade-out"},
    {"Cross", true, u"0: no cross-fade"},
    {"Pause", true, u"0: no pause"},
    {"Volume", false, u"100, full volume"},
};
constexpr std::string_view kMusicKinds[] = {"TMusicItem", "TSoundComment"};

// The numbers of a transition's settings (floats and whole numbers); one
// that does not read leaves the transition its own default.
constexpr std::string_view kEffectNumberKeys[] = {"offset", "smoothline", "radius",  "3dvolume", "depth",
                                                  "distance", "angle",    "centerx", "centery",  "cols",
                                                  "rows",   "appearence", "pipe"};
constexpr std::string_view kEffectKindsOfObjects[] = {"Effect", "AnEffect"};

// Keys an object of a kind cannot do without: without them it shows or
// plays nothing (unless a number key `Unless` is set other than 0: an image
// that shows a transition's picture). The reason follows "no KEY line: ".
struct TNeededKey {
  std::string_view Kind, Key;
  std::u16string_view Reason;
  std::string_view Unless = {};
};
constexpr TNeededKey kNeededKeys[] = {
    {"Image", "ImageName",
     u"the image shows nothing; add ImageName= with the picture's path below the project folder, such as "
     u"ImageName=Photos\\sea.jpg",
     "ReplaceWithEffectBuffer"},
    {"TMusicItem", "FileName",
     u"nothing plays; add FileName= with the music's path below the project folder, such as "
     u"FileName=Music\\tune.mp3"},
    {"TSoundComment", "FileName",
     u"nothing plays; add FileName= with the sound's path below the project folder, such as "
     u"FileName=Music\\voice.mp3"},
    {"TMusicItem", "Duration", u""},
    {"TSoundComment", "Duration", u""},
};

// A hostile or broken text could name millions of problems: past this many
// the check says so once and stops, and it looks at this many files and
// this many distinct unknown keys at most.
constexpr int32_t kMaxReports = 200;
constexpr size_t kMaxFiles = 4096;
constexpr size_t kMaxKeys = 4096;

// A file larger than this is not read whole to be checked.
constexpr int64_t kMaxCheckedPicture = int64_t(512) << 20;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

bool Same(std::string_view a, std::string_view b) { return Lower(a) == Lower(b); }

std::string_view WithoutTrailingDigits(std::string_view s) {
  while (!s.empty() && s.back() >= '0' && s.back() <= '9') s.remove_suffix(1);
  return s;
}

// Edits (insert, delete, change, swap of neighbours) from a to b, counted up
// to `limit` + 1.
size_t EditDistance(std::string_view a, std::string_view b, size_t limit) {
  if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit) return limit + 1;
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

// The word of `words` nearest `name` when one or two edits away (one for
// short names); empty when `name` is one of them or none is near.
template <size_t N>
std::string Near(std::string_view name, const std::string_view (&words)[N]) {
  const std::string key = Lower(WithoutTrailingDigits(name));
  if (key.empty()) return {};
  for (std::string_view w : words)
    if (Lower(w) == key) return {};
  const size_t limit = key.size() <= 4 ? 1 : 2;
  std::string best;
  size_t best_distance = limit + 1;
  for (std::string_view w : words) {
    const size_t d = EditDistance(key, Lower(w), limit);
    if (d < best_distance) best_distance = d, best = std::string(w);
  }
  return best;
}

std::u16string Wide(std::string_view s) { return UTF8Decode(s); }

// Text of the project as wide text, cut to a length a message can hold.
std::u16string Shown(std::string_view bytes) {
  std::u16string text = UTF8Decode(bytes.substr(0, 80));
  if (bytes.size() > 80) text += u"\u2026";
  return text;
}

bool IsNumber(const TIniItem* item) { return !std::isnan(item->GetFloat(std::nan(""))); }
bool IsWholeNumber(const TIniItem* item) { return item->GetInteger(0) != 0 || item->GetInteger(1) != 1; }

template <size_t N>
bool OneOf(std::string_view name, const std::string_view (&words)[N]) {
  return std::any_of(std::begin(words), std::end(words), [name](std::string_view w) { return Same(w, name); });
}

// A number as an author may have written it in another form: a decimal
// comma for the point, or a unit after it.
struct TWrittenNumber {
  double Value = 0;      // the comma read as the point, the unit left off
  bool Comma = false;    // "9,5"
  bool Grouped = false;  // a comma followed by three digits: "18,000" may be eighteen thousand
  std::string Unit;  // "ms", "s" or "%"; empty when none
};

// Reads `text` as a number in one of those forms; false when it is none.
bool ReadWrittenNumber(std::string_view text, TWrittenNumber& out) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  std::string number;
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) number += text[i++];
  bool digits = false, mark = false;
  size_t decimals = 0;
  for (; i < text.size() && number.size() < 40; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      number += c;
      digits = true;
      decimals += mark;
    } else if ((c == '.' || c == ',') && !mark) {
      mark = true;
      out.Comma = c == ',';
      number += '.';
    } else {
      break;
    }
  }
  if (!digits) return false;
  while (i < text.size() && text[i] == ' ') ++i;
  const std::string unit = Lower(text.substr(i));
  if (!unit.empty() && unit != "ms" && unit != "s" && unit != "sec" && unit != "%") return false;
  out.Unit = unit == "sec" ? "s" : unit;
  out.Grouped = out.Comma && decimals == 3;
  out.Value = ByteStringToFloatDef(number, std::nan(""));
  return std::isfinite(out.Value);
}

// The shortest text that reads back as `v`.
std::u16string NumberText(double v) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
  return Wide(std::string_view(buffer, size_t(end - buffer)));
}

// What to write instead of a number written in another form (a decimal
// comma, a unit), or else a number such as `example`.
std::u16string NumberToWrite(std::string_view key, std::string_view value, std::u16string_view example) {
  TWrittenNumber n;
  const std::u16string line = Wide(key) + u"=";
  if (!ReadWrittenNumber(value, n) || (n.Comma && n.Grouped))
    return u"write a number alone, such as " + line + std::u16string(example);
  if (!n.Unit.empty()) return u"write the number without a unit: " + line + NumberText(n.Value);
  return u"the decimal mark is a point: write " + line + NumberText(n.Value);
}

// What to write instead of a music value that is not a whole number: the
// milliseconds (or percent) alone, in digits.
std::u16string WholeNumberToWrite(std::string_view key, std::string_view value, bool milliseconds) {
  TWrittenNumber n;
  const std::u16string line = Wide(key) + u"=";
  const bool read = ReadWrittenNumber(value, n) && n.Value >= 0 && n.Value * 1000 < double(INT32_MAX);
  const std::u16string whole = NumberText(std::nearbyint(n.Value));
  if (!milliseconds)
    return u"write the percent alone in whole digits, such as " + line + (read && n.Value >= 1 ? whole : u"80");
  if (!read || n.Unit == "%") return u"write the milliseconds alone in digits, such as " + line + u"60000";
  const std::u16string thousands = NumberText(std::nearbyint(n.Value * 1000));
  if (n.Unit == "s") return u"write the milliseconds without a unit: " + line + thousands;
  if (n.Grouped && n.Unit.empty()) return u"write it without the comma: " + line + thousands;
  if (n.Unit == "ms") return u"write the number without a unit: " + line + whole;
  // A fraction of a millisecond is rarely meant: a small one says seconds.
  if (n.Value >= 1000) return u"write whole milliseconds: " + line + whole;
  return Wide(key) + u" counts milliseconds: for " + NumberText(n.Value) + u" seconds write " + line + thousands;
}

class TChecker {
 public:
  TChecker(TIniFile* project, TFileAccessor* accessor, const TShowCheckOptions& options)
      : project_(project), accessor_(accessor), options_(options) {
    // The show's own effect library: the objects of [Main] TheEffect.
    if (TIniList* main = project->FindSection(u"Main"))
      if (TIniObject* library = main->FindObject(u"TheEffect"))
        for (TIniObject* o = library->FirstObject(); o; o = library->NextObject(o))
          effects_.insert(Lower(o->NameBytes()));
  }

  void Run() {
    for (int32_t i = 0; i < project_->Count() && reports_ < kMaxReports; ++i) {
      TIniItem* item = project_->GetItem(i);
      if (auto* section = dynamic_cast<TIniSection*>(item)) CheckSection(section);
      else CheckItem(item, nullptr, false);
    }
    CheckEffectLibrary();
    CheckSlideTable();
    CheckTransitionTimes();
    CheckSlideEffects();
  }

 private:
  // An effect of the list in [Main] that is no transition kind plays only
  // as a custom effect, whose settings are the section "effect_" + its
  // "slide_1" (its own name when it has none); without that section the
  // slides that use it come in as a cut.
  void CheckEffectLibrary() {
    TIniList* main = project_->FindSection(u"Main");
    TIniObject* library = main ? main->FindObject(u"TheEffect") : nullptr;
    if (!library) return;
    for (TIniObject* o = library->FirstObject(); o && reports_ < kMaxReports; o = library->NextObject(o)) {
      const std::string_view name = o->NameBytes();
      if (name.empty() || EffectKindOfName(Wide(name)) != kEffectCustom) continue;
      // Custom effects with fields of their own choose a section per slide.
      if (o->FindKey(u"userprops")) continue;
      const TIniItem* chosen = o->FindKey(u"slide_1");
      const std::string_view settings = chosen ? std::string_view(chosen->GetValueBytes()) : name;
      if (!settings.empty() && project_->FindSection(u"effect_" + Wide(settings))) continue;
      const std::string near = Near(name, kEffectKinds);
      Report(TShowProblemKind::Effect, Shown(name),
             u"no transition kind of that name" + (near.empty() ? std::u16string() : u" (" + Wide(near) + u"?)") +
                 u" and no section [effect_" + Shown(settings) +
                 u"] with its settings: slides that use it come in as a cut",
             o->Line());
    }
  }

  // The slides the player plays are [Times] opt_slidescount, each ending
  // at its opt_synchposN and showing the section [SlideN]. Said here: a
  // count beyond the sections, sections beyond the count, a slide without
  // a section or an end time, and an end time before the one above it (the
  // player then ends that slide where the one before ends: it is not seen).
  void CheckSlideTable() {
    TIniList* times = project_->FindSection(u"Times");
    const TIniItem* count_item = times ? times->FindKey(u"opt_slidescount") : nullptr;
    const int32_t count = ReadSlidesCount(project_);
    const int32_t count_line = count_item ? count_item->Line() : (times ? times->Line() : 0);
    // The slide sections by number.
    std::map<int64_t, TIniSection*> sections;
    if (TSectionList* list = project_->Sections())
      for (int32_t i = 0; i < list->Count(); ++i) {
        auto* section = dynamic_cast<TIniSection*>(list->GetSection(i));
        if (!section) continue;
        const std::string_view name = section->NameBytes();
        const std::string_view digits = name.substr(WithoutTrailingDigits(name).size());
        if (!Same(WithoutTrailingDigits(name), "Slide") || digits.empty() || digits.size() > 9 || digits[0] == '0')
          continue;
        sections.emplace(std::stoll(std::string(digits)), section);
      }
    const int64_t last_section = sections.empty() ? 0 : sections.rbegin()->first;
    // Without the slide table no slide has a time: one line says what to
    // write (the sections would each be "after the last slide").
    if (!times || !count_item) {
      // A header misspelt or without its "]" is said by itself.
      if (sections.empty() || (!times && (BrokenHeader("times") || SectionNear("Times")))) return;
      const std::u16string slides = u"opt_slidescount=" + IntToStr(int32_t(last_section));
      if (!times)
        Report(TShowProblemKind::Section, u"[Times]",
               u"no such section: no slide has a time, so the show does not go from slide to slide; add a "
               u"section [Times] with " +
                   slides + u" and opt_synchpos1 to opt_synchpos" + IntToStr(int32_t(last_section)) +
                   u", the time each slide ends in milliseconds",
               sections.begin()->second->Line());
      else
        Report(TShowProblemKind::Value, u"opt_slidescount",
               u"missing from [Times]: the show has no slides; add " + slides +
                   u" (the number of [SlideN] sections)",
               times->Line());
      return;
    }
    const std::u16string count_text = u"opt_slidescount=" + (count_item ? Shown(count_item->GetValueBytes()) : u"");
    // A slide section named twice leaves a number out: that is said with it.
    if (count_item && count > 0 && last_section < count && !repeated_slide_) {
      Report(TShowProblemKind::Value, count_text,
             last_section > 0
                 ? u"the slides go up to [Slide" + IntToStr(int32_t(last_section)) + u"] only: " +
                       (last_section + 1 == count ? u"slide " + IntToStr(count) + u" is"
                                                  : u"slides " + IntToStr(int32_t(last_section + 1)) + u" to " +
                                                        IntToStr(count) + u" are") +
                       u" empty (opt_slidescount=" + IntToStr(int32_t(last_section)) + u"?)"
                 : std::u16string(u"the project has no slide sections ([Slide1], [Slide2], ...)"),
             count_line);
    }
    // A count that does not read is said by itself.
    const bool count_read = times && (!count_item || IsWholeNumber(count_item));
    for (const auto& [number, section] : sections) {
      if (reports_ >= kMaxReports) return;
      if (number > count && count_read)
        Report(TShowProblemKind::Section, u"[" + Shown(section->NameBytes()) + u"]",
               u"after the last slide (opt_slidescount=" + IntToStr(count) + u"): it is not shown", section->Line());
    }
    // Slides inside the count: a missing section (the tail is said above)
    // or end time.
    int64_t prev = 0;
    bool end_missing_said = false;
    for (int32_t i = 1; i <= count && reports_ < kMaxReports; ++i) {
      if (i < last_section && !sections.count(i) && !BrokenHeader("slide" + std::to_string(i)) && !repeated_slide_)
        Report(TShowProblemKind::Section, u"[Slide" + IntToStr(i) + u"]",
               u"no such section: slide " + IntToStr(i) + u" is empty", count_line);
      const std::u16string key = u"opt_synchpos" + IntToStr(i);
      const TIniItem* end_item = times ? times->FindKey(key) : nullptr;
      if (!end_item) {
        // The tail beyond the sections is said with the count.
        if (!end_missing_said && i <= last_section)
          Report(TShowProblemKind::Value, key,
                 u"missing: slide " + IntToStr(i) + u" has no end time and is not shown (each slide up to "
                 u"opt_slidescount needs one)",
                 count_line);
        end_missing_said = true;
        continue;
      }
      const int64_t end = end_item->GetInteger(0);
      if (end < prev && IsWholeNumber(end_item))
        Report(TShowProblemKind::Value, key + u"=" + Shown(end_item->GetValueBytes()),
               u"before the end of slide " + IntToStr(i - 1) + u" (" + IntToStr(int32_t(prev)) +
                   u"): slide " + IntToStr(i) + u" is not shown (the end times count from the start of the show)",
               end_item->Line());
      prev = std::max(prev, end);
    }
  }

  // The length of slide i's transition as the show source gives it to the
  // engine: its "time" (through the effect it names), the list's for
  // "default", none for "quick".
  static double PlayedEffectTime(TKAVEffectManager* manager, int32_t i) {
    TEffectProp* prop = manager->GetEffectByIndex(i);
    if (!prop) return 0;
    const int32_t kind = EffectKindOfName(prop->GetRefName());
    std::u16string text;
    if (kind == kEffectNameQuick) return 0;
    if (kind == kEffectNameDefault) {
      if (!manager->CountChecked()) return 0;
      text = manager->ReadTime();
    } else if (!prop->ReadText(u"time", text)) {
      return 0;
    }
    return ByteStringToFloatDef(UTF8Encode(text), 0);
  }

  // A transition longer than its slide is cut to the slide's length, as
  // the player cuts it: the slide is then never seen still. The times are
  // those the player works out (the effect manager's, the slide table's).
  void CheckTransitionTimes() {
    const int32_t count = ReadSlidesCount(project_);
    TIniList* times = project_->FindSection(u"Times");
    if (count < 1 || !times) return;
    int64_t prev = 0;
    for (int32_t i = 0; i < count && reports_ < kMaxReports; ++i) {
      const TIniItem* end_item = times->FindKey(u"opt_synchpos" + IntToStr(i + 1));
      const int64_t end = std::max<int64_t>(end_item ? end_item->GetInteger(0) : 0, prev);
      const int64_t length = end - prev;
      prev = end;
      TIniList* section = project_->FindSection(u"Slide" + IntToStr(i + 1));
      if (length <= 0 || !section) continue;
      const double played = PlayedEffectTime(Effects(), i);
      if (!(played > double(length))) continue;
      const int64_t effect = int64_t(std::min(std::ceil(played), double(INT32_MAX)));
      // The line that sets it: the slide's own "time", else its effect.
      TIniObject* own = section->FindObject(u"TheEffect");
      const TIniItem* time = own ? own->FindKey(u"time") : nullptr;
      const int32_t line = time && time->Line() > 0 ? time->Line() : own && own->Line() > 0 ? own->Line() : section->Line();
      Report(TShowProblemKind::Value, u"[Slide" + IntToStr(i + 1) + u"] TheEffect",
             u"the transition (" + IntToStr(int32_t(std::min<int64_t>(effect, INT32_MAX))) +
                 u" ms) is longer than its slide (" + IntToStr(int32_t(std::min<int64_t>(length, INT32_MAX))) +
                 u" ms): it is cut to the slide's length and the slide is never seen still; make its time "
                 u"shorter than the slide",
             line);
    }
  }

  // A slide whose transition names a kind the effect list of [Main] does
  // not hold, or holds with none of its variants on, comes in as a cut:
  // the kind's settings (checked, direction, ...) are read from the list.
  void CheckSlideEffects() {
    const int32_t count = ReadSlidesCount(project_);
    if (count < 1) return;
    TIniList* main = project_->FindSection(u"Main");
    const TIniObject* library = main ? main->FindObject(u"TheEffect") : nullptr;
    for (int32_t i = 0; i < count && reports_ < kMaxReports; ++i) {
      TIniList* section = project_->FindSection(u"Slide" + IntToStr(i + 1));
      TIniObject* own = section ? section->FindObject(u"TheEffect") : nullptr;
      const TIniItem* ref = own ? own->FindKey(u"ref") : nullptr;
      if (!ref) continue;
      TEffectProp* prop = Effects()->GetEffectByIndex(i);
      const int32_t kind = prop ? EffectKindOfName(prop->GetRefName()) : kEffectNone;
      if (kind < kEffectDissolve || kind >= kEffectCustom || BuildKavEffect(prop, kind)->VariantCount > 0) continue;
      const std::u16string name = Wide(ref->GetValueBytes());
      const TIniObject* entry = library ? library->FindObject(name) : nullptr;
      if (!entry && LibraryEntryNear(library, ref->GetValueBytes())) continue;  // the misspelt entry is said
      const std::u16string slide = u"slide " + IntToStr(i + 1) + u" comes in as a cut";
      std::u16string reason;
      if (entry)
        reason = u"the entry " + name + u" of the effect list of [Main] (line " + IntToStr(entry->Line()) +
                 u") turns none of its variants on (see its checked, direction or action): " + slide;
      else if (library)
        reason = name + u" is not in the effect list of [Main] (object TheEffect:AnEffect, line " +
                 IntToStr(library->Line()) + u"): " + slide + u"; add an object " + name +
                 u":Effect with checked=1 and its settings to that list";
      else
        reason = u"the show has no effect list (an object TheEffect:AnEffect in [Main]): " + slide +
                 u"; add one holding an object " + name + u":Effect with checked=1 and its settings";
      Report(TShowProblemKind::Effect, u"ref=" + Shown(ref->GetValueBytes()), reason, ref->Line());
    }
  }

  // The show's effects as the show source reads them (made on first use).
  TKAVEffectManager* Effects() {
    if (!effects_manager_) effects_manager_ = MakeRef<TKAVEffectManager>(project_, 0, 0);
    return effects_manager_.get();
  }

  // Whether an entry of the effect list is a misspelling of the kind `kind`.
  static bool LibraryEntryNear(const TIniObject* library, std::string_view kind) {
    for (const TIniObject* o = library ? library->FirstObject() : nullptr; o; o = library->NextObject(o))
      if (Same(Near(o->NameBytes(), kEffectKinds), kind)) return true;
    return false;
  }

  // A section named twice is one section: the reader puts the lines under
  // the second header into the first's. For a slide that is mostly a
  // number written twice, so the slide the count misses is named.
  void CheckRepeatedSection(TIniSection* section, int32_t again, bool slide) {
    repeated_slide_ = repeated_slide_ || slide;
    const std::u16string name = u"[" + Shown(section->NameBytes()) + u"]";
    std::u16string reason = u"appears twice, lines " + IntToStr(section->Line()) + u" and " + IntToStr(again) +
                            u": the lines under the second header join the first's";
    if (slide) {
      const std::string_view whole = section->NameBytes();
      const std::string_view digits = whole.substr(WithoutTrailingDigits(whole).size());
      reason += u", so slide " + Wide(digits) + u" shows the objects of both";
      const int32_t count = ReadSlidesCount(project_);
      for (int32_t i = 1; i <= count; ++i)
        if (!project_->FindSection(u"Slide" + IntToStr(i))) {
          reason += u" and slide " + IntToStr(i) + u" has no section of its own (rename the second [Slide" +
                    IntToStr(i) + u"]?)";
          break;
        }
    } else {
      reason += u" (a key set under both takes the second's value): make them one section";
    }
    Report(TShowProblemKind::Section, name, reason, again);
  }

  void CheckSection(TIniSection* section) {
    const std::string_view name = section->NameBytes();
    if (std::string near = Near(name, kKnownSections); !near.empty())
      Report(TShowProblemKind::Section, u"[" + Shown(name) + u"]",
                        u"no section of that name (" + Wide(near) + u"?)", section->Line());
    const bool slide = Same(WithoutTrailingDigits(name), "Slide") && WithoutTrailingDigits(name) != name;
    const bool times = Same(name, "Times");
    if (const int32_t again = section->RepeatedAt(); again > 0) CheckRepeatedSection(section, again, slide);
    // Slides and dialogs are drawn by the same readers.
    drawn_section_ = slide || Lower(name).rfind("dialog_", 0) == 0;
    for (int32_t i = 0; i < section->Count() && reports_ < kMaxReports; ++i) {
      TIniItem* item = section->GetItem(i);
      if (times && item->IsNamedKey()) CheckTimesKey(item);
      CheckItem(item, nullptr, slide);
    }
  }

  void CheckTimesKey(TIniItem* item) {
    const std::string_view name = item->NameBytes();
    const bool count = Same(name, "opt_slidescount");
    if (!count && !Same(WithoutTrailingDigits(name), "opt_synchpos")) return;
    if (!IsWholeNumber(item) || (count && item->GetInteger(0) < 0))
      Report(TShowProblemKind::Value, Shown(name) + u"=" + Shown(item->GetValueBytes()),
                        count ? u"not a number of slides" : u"not a time in milliseconds", item->Line());
  }

  void CheckItem(TIniItem* item, TIniObject* object, bool in_slide) {
    if (auto* child = dynamic_cast<TIniObject*>(item)) {
      CheckObject(child, in_slide);
      return;
    }
    if (item->IsNamedKey()) {
      if (object) CheckObjectKey(item, object);
      return;
    }
    std::string_view text = item->GetValueBytes();
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    // An "end" with no object open follows from another mistake (an object
    // line misspelt), which is said itself.
    if (text.empty() || text.front() == ';' || text.front() == '=' || Same(text, "end")) return;
    if (text.front() == '[' && broken_headers_.size() < kMaxKeys) broken_headers_.push_back(Lower(text.substr(1)));
    const std::u16string reason =
        text.front() == '['
            ? u"a section header without its \"]\": the lines below it stay in the section above"
            : u"neither a key (name=value), an object line (object Name:Kind), \"end\" nor a section header: "
              u"the line is skipped";
    Report(TShowProblemKind::Section, Shown(text), reason, item->Line());
  }

  void CheckObject(TIniObject* object, bool in_slide) {
    const std::string_view kind = object->GetValueBytes();
    bool known = !in_slide;
    for (std::string_view c : kSlideClasses) known = known || Same(c, kind);
    if (!known) {
      std::string near = Near(kind, kSlideClasses);
      Report(TShowProblemKind::Object, Shown(object->NameBytes()) + u":" + Shown(kind),
                        (kind.empty() ? std::u16string(u"an object without a kind")
                                      : u"no object kind \"" + Shown(kind) + u"\"" +
                                            (near.empty() ? std::u16string() : u" (" + Wide(near) + u"?)")) +
                            u": it is not shown",
                        object->Line());
    }
    if (const int32_t closed = object->ClosedWithoutEnd(); closed != 0) {
      const TIniItem* header = closed > 0 ? HeaderAt(closed) : nullptr;
      Report(TShowProblemKind::Section, u"object " + Shown(object->NameBytes()) + u":" + Shown(kind),
             u"no \"end\" of its own before " +
                 (closed < 0 ? std::u16string(u"the end of the text")
                             : (header ? u"[" + Shown(header->NameBytes()) + u"] " : std::u16string()) + u"(line " +
                                   IntToStr(closed) + u")") +
                 u": an \"end\" is missing inside it or after it, and the lines up to there belong to it",
             object->Line());
    }
    const std::u16string what = u"object " + Shown(object->NameBytes()) + u":" + Shown(kind);
    // The objects of a slide are told apart by their GUIDs: one without a
    // GUID is left out of its slide.
    const TIniItem* guid = object->FindKey(u"GUID");
    if (drawn_section_ && ParseObjectKind(kind) != kKindNone && (!guid || guid->GetValueBytes().empty())) {
      Report(TShowProblemKind::Object, what,
             (guid ? u"an empty GUID" : u"no GUID line") +
                 std::u16string(u": the object is not shown; add a line GUID= with a text no other object has, "
                                u"such as GUID={") +
                 Shown(object->NameBytes()) + u"-" + IntToStr(object->Line()) + u"}",
             object->Line());
    }
    for (const TNeededKey& needed : kNeededKeys) {
      if (!Same(kind, needed.Kind)) continue;
      const TIniItem* item = object->FindKey(Wide(needed.Key));
      if ((item && !item->GetValueBytes().empty()) || HasKeyNear(object, needed.Key)) continue;
      if (!needed.Unless.empty() && IniGetInteger(object->FindKey(Wide(needed.Unless)), 0) != 0) continue;
      const std::u16string reason = needed.Reason.empty() ? DurationMissing() : std::u16string(needed.Reason);
      Report(TShowProblemKind::Object, what, u"no " + Wide(needed.Key) + u" line: " + reason, object->Line());
    }
    if (OneOf(kind, kMusicKinds)) CheckStartTime(object);
    for (int32_t i = 0; i < object->Count() && reports_ < kMaxReports; ++i)
      CheckItem(object->GetItem(i), object, in_slide);
  }

  // A piece whose StartTime is at or past the end of its file is silent:
  // said when the file's length can be told.
  void CheckStartTime(TIniObject* object) {
    const TIniItem* start = object->FindKey(u"StartTime");
    const TIniItem* file = object->FindKey(u"FileName");
    if (!start || !file || !IsWholeNumber(start) || start->GetInteger(0) <= 0) return;
    const int64_t length = SoundLength(file->GetValueBytes());
    if (length < 0 || start->GetInteger(0) < length) return;
    const std::u16string ms = IntToStr(int32_t(std::min<int64_t>(length, INT32_MAX)));
    Report(TShowProblemKind::Value, u"StartTime=" + Shown(start->GetValueBytes()),
           u"past the end of " + Shown(file->GetValueBytes()) + u", which is " + ms +
               u" ms long: the piece is silent; write a StartTime below " + ms,
           start->Line());
  }

  // The length in milliseconds of a sound file of the show; -1 when it
  // cannot be told. Each file is opened once. Only a piece with a StartTime
  // asks, so a packed show's sounds are opened for it too (its other files
  // are not checked): a start past the end is said from the package as
  // from the folder.
  int64_t SoundLength(std::string_view name_bytes) {
    if (!options_.SoundLength || !accessor_ || name_bytes.empty() || Same(name_bytes, "error"))
      return -1;
    const std::string key = Lower(name_bytes);
    if (auto it = sound_lengths_.find(key); it != sound_lengths_.end()) return it->second;
    if (sound_lengths_.size() >= kMaxFiles) return -1;
    int64_t length = -1;
    try {
      const std::u16string name = Wide(name_bytes);
      if (Ref<TStream> stream = accessor_->OpenFile(name)) length = options_.SoundLength(stream.get(), name);
    } catch (const Exception&) {
      length = -1;  // said by the file's own check
    }
    sound_lengths_.emplace(key, length);
    return length;
  }

  // Whether a key of the object is a misspelling of `key` (said by itself).
  bool HasKeyNear(TIniObject* object, std::string_view key) {
    for (int32_t i = 0; i < object->Count(); ++i)
      if (const TIniItem* item = object->GetItem(i); item->IsNamedKey() && NearKey(item->NameBytes()) == key)
        return true;
    return false;
  }

  // A piece of music without its length plays for 0 ms. The example of a
  // length is the show's, when the slide table gives it.
  std::u16string DurationMissing() const {
    const int32_t count = ReadSlidesCount(project_);
    TIniList* times = project_->FindSection(u"Times");
    const TIniItem* end = times && count > 0 ? times->FindKey(u"opt_synchpos" + IntToStr(count)) : nullptr;
    const int64_t length = end ? end->GetInteger(0) : 0;
    return u"it plays for 0 ms and is not heard; add Duration= with the milliseconds it plays, such as Duration=" +
           (length > 0 ? IntToStr(int32_t(std::min<int64_t>(length, INT32_MAX))) + u" (the length of the show)"
                       : std::u16string(u"60000 (a minute)"));
  }

  // Whether a header without its "]" starts with `name` (lower case): the
  // section it misses is that mistake, said by itself.
  bool BrokenHeader(const std::string& name) const {
    for (const std::string& h : broken_headers_)
      if (h.compare(0, name.size(), name) == 0) return true;
    return false;
  }

  // Whether a section's name is a misspelling of `known`.
  bool SectionNear(std::string_view known) const {
    if (TSectionList* list = project_->Sections())
      for (int32_t i = 0; i < list->Count(); ++i)
        if (TIniList* section = list->GetSection(i); section && Near(section->NameBytes(), kKnownSections) == known)
          return true;
    return false;
  }

  // The section whose header is on `line`.
  const TIniItem* HeaderAt(int32_t line) const {
    if (TSectionList* list = project_->Sections())
      for (int32_t i = 0; i < list->Count(); ++i)
        if (TIniList* section = list->GetSection(i); section && section->Line() == line) return section;
    return nullptr;
  }

  void CheckObjectKey(TIniItem* item, TIniObject* object) {
    const std::string_view key = item->NameBytes();
    const std::string_view value = item->GetValueBytes();
    const int32_t line = item->Line();
    if (std::string near = NearKey(key); !near.empty()) {
      Report(TShowProblemKind::Key, Shown(key), u"no such key (" + Wide(near) + u"?): it is not read", line);
      return;
    }
    if (Same(key, "GUID") && !value.empty()) {
      // Objects are told apart by their GUIDs.
      if (guids_.size() >= kMaxKeys) return;
      const auto [first, added] = guids_.emplace(Lower(value), line);
      if (!added)
        Report(TShowProblemKind::Value, u"GUID=" + Shown(value),
               u"the same GUID as the object on line " + IntToStr(first->second) +
                   u": give each object a GUID of its own",
               line);
      return;
    }
    if (Same(key, "ref") && Same(object->GetValueBytes(), "AnEffect")) {
      const std::u16string name = Wide(value);
      if (!name.empty() && EffectKindOfName(name) == kEffectCustom && !effects_.count(Lower(value)))
        Report(TShowProblemKind::Effect, name, u"no effect of that name", line);
      return;
    }
    for (const TChoiceKey& choice : kChoiceKeys) {
      if (!Same(key, choice.Key)) continue;
      std::u16string names;
      bool found = false;
      for (std::string_view n : choice.Names) {
        if (n.empty()) continue;
        found = found || Same(n, value);
        names += (names.empty() ? u"" : u", ") + Wide(n);
      }
      if (!found)
        Report(TShowProblemKind::Value, Shown(key) + u"=" + Shown(value),
                          u"not one of " + names + u": the default is used", line);
      return;
    }
    const std::string_view kind = object->GetValueBytes();
    if (OneOf(kind, kMusicKinds)) {
      for (const TMusicKey& music : kMusicKeys)
        if (Same(key, music.Key) && !IsWholeNumber(item)) {
          Report(TShowProblemKind::Value, Shown(key) + u"=" + Shown(value),
                 (music.Milliseconds ? u"not a whole number of milliseconds" : u"not a whole percent") +
                     std::u16string(u": it reads as ") + std::u16string(music.ReadsAs) + u"; " +
                     WholeNumberToWrite(key, value, music.Milliseconds),
                 line);
          return;
        }
    } else if (OneOf(kind, kEffectKindsOfObjects)) {
      if (OneOf(key, kEffectNumberKeys) && !IsNumber(item))
        Report(TShowProblemKind::Value, Shown(key) + u"=" + Shown(value),
               u"not a number: the transition takes its own default for it; " + NumberToWrite(key, value, u"1"),
               line);
      return;
    }
    for (const TNumberKey& number : kNumberKeys)
      if (Same(key, number.Key) && !IsNumber(item)) {
        Report(TShowProblemKind::Value, Shown(key) + u"=" + Shown(value),
               u"not a number: it reads as " + std::u16string(number.ReadsAs) + u"; " +
                   NumberToWrite(key, value, number.ReadsAs.substr(0, number.ReadsAs.find(u','))),
               line);
        return;
      }
    if (Same(key, "ImageName") || Same(key, "Picture")) {
      std::string_view name = value;
      if (const size_t bar = name.find('|'); bar != std::string_view::npos) name = name.substr(0, bar);
      CheckFile(name, TFileUse::Picture, line);
    } else if (Same(key, "FileName")) {
      CheckFile(value, OneOf(object->GetValueBytes(), kMusicKinds) ? TFileUse::Sound : TFileUse::Other, line);
    }
  }

  enum class TFileUse { Picture, Sound, Other };

  void CheckFile(std::string_view name_bytes, TFileUse use, int32_t line) {
    if (name_bytes.empty()) return;
    // What the picture loader says of the file later carries this line.
    NoteShowFileLine(Wide(name_bytes), line);
    if (!accessor_ || !options_.CheckFiles) return;
    // Each file once (a picture shown on many slides is one problem).
    if (files_.size() >= kMaxFiles || !files_.insert(Lower(name_bytes)).second) return;
    const std::u16string name = Wide(name_bytes);
    if (options_.NameProblem)
      if (const std::u16string why = options_.NameProblem(name); !why.empty())
        Report(TShowProblemKind::File, name, why, line);
    Ref<TStream> stream;
    try {
      stream = accessor_->OpenFile(name);
    } catch (const Exception& e) {
      Report(TShowProblemKind::File, name, u"cannot be read: " + Wide(e.Message()), line);
      return;
    }
    if (!stream) {
      Report(TShowProblemKind::File, name, u"no such file", line, true);
      return;
    }
    // Not learned by reading the data through where it is not known (an
    // inflated package entry's): an empty entry is held, so its size is.
    if (stream->GetKnownSize() == 0) {
      Report(TShowProblemKind::File, name, kEmptyShowFile, line);
      return;
    }
    if (use == TFileUse::Sound) {
      // A text saved under a sound's name (a download that failed); other
      // data is judged by the music library's own test when one is given
      // (the media library may read it), else left to the decoders.
      std::u16string why;
      if (SoundIsNoSound(stream.get())) why = UnplayableSoundReason(stream.get());
      else if (options_.SoundProblem) why = options_.SoundProblem(stream.get(), name);
      if (!why.empty()) Report(TShowProblemKind::File, name, why, line);
      return;
    }
    if (use != TFileUse::Picture) return;
    try {
      if (stream->GetSizeWithin(kMaxCheckedPicture) < 0) return;
      // Decoding is left to the picture loader unless asked for; the end
      // marker costs one read.
      Ref<TBitmapStore> store;
      if (options_.DecodePictures) {
        store = LoadBitmapStore(stream.get(), name, false, TImageParamsCallback());
        if (!store) {
          Report(TShowProblemKind::File, name, UndecodablePictureReason(stream.get()), line);
          return;
        }
      }
      if (const std::u16string cut = PictureCutShortReason(stream.get()); !cut.empty()) {
        Report(TShowProblemKind::File, name, cut, line);
        return;
      }
      // A JPEG is decoded (at its smallest level: the same data is read) so
      // that libjpeg's word on damaged data it decodes past is said, with
      // this line.
      if (store && IsJpeg(stream.get())) {
        const TShowProblemLine at(line);
        try {
          store->GetMipLevel(3);
        } catch (const Exception&) {
          // Data libjpeg cannot decode past: the placeholder shows.
          Report(TShowProblemKind::File, name, UndecodablePictureReason(stream.get()), line);
        }
      }
    } catch (const Exception& e) {
      Report(TShowProblemKind::File, name, u"cannot be read: " + Wide(e.Message()), line);
    }
  }

  static bool IsJpeg(TStream* stream) {
    uint8_t head[2] = {};
    stream->SetPosition(0);
    return stream->Read(std::span<uint8_t>(head, 2), 2) == 2 && head[0] == 0xFF && head[1] == 0xD8;
  }

  void Report(TShowProblemKind kind, const std::u16string& name, const std::u16string& reason, int32_t line,
              bool error = false) {
    if (reports_ >= kMaxReports) return;
    ReportShowProblem(kind, name, reason, line, error);
    if (++reports_ == kMaxReports)
      ReportShowProblem(TShowProblemKind::Section, u"Project.kav", u"more problems than are listed: the check stops");
  }

  // Near() for object keys, each distinct key worked out once.
  std::string NearKey(std::string_view key) {
    const std::string lower = Lower(key);
    if (auto it = keys_.find(lower); it != keys_.end()) return it->second;
    if (keys_.size() >= kMaxKeys) return {};
    return keys_.emplace(lower, Near(key, kKnownWords)).first->second;
  }

  TIniFile* project_;
  TFileAccessor* accessor_;
  TShowCheckOptions options_;
  std::set<std::string> effects_;
  std::set<std::string> files_;
  std::map<std::string, std::string> keys_;
  std::map<std::string, int32_t> guids_;
  std::vector<std::string> broken_headers_;
  bool drawn_section_ = false;  // the section being checked is a slide's or a dialog's
  bool repeated_slide_ = false;  // a slide section is named twice
  std::map<std::string, int64_t> sound_lengths_;
  Ref<TKAVEffectManager> effects_manager_;
  int32_t reports_ = 0;
};

}  // namespace

std::u16string NearKnownObjectKey(const std::u16string& key) { return Wide(Near(UTF8Encode(key), kKnownWords)); }

void CheckShowProject(TIniFile* project, TFileAccessor* accessor, const TShowCheckOptions& options) {
  if (!project) return;
  TChecker(project, accessor, options).Run();
}

}  // namespace kav
