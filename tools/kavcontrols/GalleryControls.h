// The controls the gallery shows: one table entry per control, each made
// twice, once in the classic look and once in the visual style. Adding a
// control to the gallery is one line in GalleryEntries.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "VoRav/Composite/vxFrameControls.h"

namespace kav::gallery {

// Makes the control as a child of `parent` at (x, y), `styled` for the
// visual-style look, and answers its height.
using TMakeControl = std::function<int32_t(TFrameControl* parent, int32_t x, int32_t y, int32_t width, bool styled)>;

struct TGalleryEntry {
  std::string Name;
  TMakeControl Make;
};

const std::vector<TGalleryEntry>& GalleryEntries();

// Lays out every entry in two columns (classic left, styled right) with
// headings on `root`; answers the height used.
int32_t BuildGallery(TFrameControl* root, int32_t width);

// Frees the style set of the classic column (after the form is gone,
// before the toolkit is finalised).
void FreeGalleryStyles();

// Every click a gallery control takes is written as "click NAME" on stdout
// (the Xvfb test reads it).
extern bool LogClicks;

}  // namespace kav::gallery
