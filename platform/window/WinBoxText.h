// The text of a message box laid out in lines that fit the screen.
//
// The boxes the window layer shows (SDL's own X box, zenity through SDL
// with --no-wrap) break their text only where it has line breaks, and a box
// is as wide as its longest line: a long sentence made a box wider than the
// screen. The text is broken into lines here first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kav::win {

// How wide a line of UTF-8 text is drawn, in pixels.
using TTextWidth = std::function<int32_t(std::string_view utf8)>;

// `utf8` in lines no wider than `max_width` as `width_of` measures them,
// joined with LF. The text's own line breaks (CR LF, LF or a lone CR, which
// the layer's callers use as a line break) are kept, a line is broken at
// spaces (the spaces at the break are dropped), and a word wider than a line
// is broken between two characters (never inside one). A line holds at
// least one character, however narrow `max_width` is.
std::string WrapBoxText(std::string_view utf8, int32_t max_width, const TTextWidth& width_of);

// The widest line of a box's text on a screen `screen_width` pixels wide:
// five eighths of it (the box adds its margins and an icon, and a desktop
// helper's font may run wider than the one measured), never below 160.
int32_t BoxTextWidth(int32_t screen_width);

}  // namespace kav::win
