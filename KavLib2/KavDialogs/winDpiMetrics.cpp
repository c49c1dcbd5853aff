#include "KavLib2/KavDialogs/winDpiMetrics.h"

#include <cmath>

#include "platform/window/WinApi.h"

namespace kav {

namespace {
int32_t g_dpi_x = 96;
int32_t g_dpi_y = 96;
}  // namespace

void InitDpiMetrics() {
  int32_t x = 96, y = 96;
  win::GetScreenDpi(x, y);
  // A screen that reports nothing usable counts as 96 dpi.
  g_dpi_x = x > 0 ? x : 96;
  g_dpi_y = y > 0 ? y : 96;
}

int32_t DpiX() { return g_dpi_x; }
int32_t DpiY() { return g_dpi_y; }
double PointsToPixels() { return g_dpi_y / 72.0; }
double PixelsToPoints() { return 72.0 / g_dpi_y; }
double DpiScale() { return g_dpi_y / 96.0; }
double DpiUnscale() { return 96.0 / g_dpi_y; }

// Rounded half to even, as everywhere in the program.
int32_t ScaleX(int32_t v) { return int32_t(std::nearbyint(double(uint16_t(v & 0xFFFF)) * g_dpi_y / 96.0)); }
int32_t ScaleY(int32_t v) { return int32_t(std::nearbyint(double(v) * g_dpi_y / 96.0)); }

}  // namespace kav
