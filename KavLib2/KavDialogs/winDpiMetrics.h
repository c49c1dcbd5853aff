// The screen's pixels per inch, read once when the program starts, and the
// scaling of 96-dpi sizes to the screen that the player's dialogs use.
#pragma once

#include <cstdint>

namespace kav {

// Reads the screen's resolution (the window system must be running); later
// calls read it again.
void InitDpiMetrics();
int32_t DpiX();
int32_t DpiY();
// dpiY / 72, 72 / dpiY, dpiY / 96 and 96 / dpiY.
double PointsToPixels();
double PixelsToPoints();
double DpiScale();
double DpiUnscale();
// round(v x dpiY / 96); ScaleX takes the low 16 bits of v first.
int32_t ScaleX(int32_t v);
int32_t ScaleY(int32_t v);

}  // namespace kav
