// Colour-grade lookups: 32 x 32 x 32 colour volumes (stored as a 32 x 1024
// bitmap, slice after slice) and 256-entry ramps, the cached lookups of the
// display profile, and the lookup texture the shaders sample.
#pragma once

#include "VoRav/3DBasics/Dev3DApp2.h"
#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"

namespace kav {

// The component value of grid index v (0..31): 8v + v div 4.
inline int32_t LutComponent(int32_t v) { return 8 * v + v / 4; }

// The identity volume in a 32 x 1024 bitmap of 3 or 4 bytes per pixel
// (alpha 255): slice s, row r, entry c holds blue c(s), green c(r), red c(c).
void FillIdentityLut24(TSysBitmap* bitmap);
void FillIdentityLut32(TSysBitmap* bitmap);
// Adds the identity to a table of offsets (3 bytes per pixel).
void AddIdentityLut24(TSysBitmap* bitmap);
// The volume indexed by Y (slice), U (row) and V (entry), holding the RGB
// colour of that video colour (4 bytes per pixel).
void FillYuvToRgbLut(TSysBitmap* bitmap);
// Every row (i, i, i, 255) for i = 0..255.
void FillGreyRampLut(TSysBitmap* bitmap);

// The lookup that maps colours (identity) or video colours (not identity)
// to `profile` (null: the display's default), cached per kind and profile
// name. The answer holds its own reference, so a later call that replaces
// the cache never frees a lookup a caller still uses.
Ref<TSysBitmap> GetProfileLut(bool identity, TColorProfile* profile);
// Drops both cached lookups (the module's end; tests).
void FreeProfileLuts();

// A lookup texture on a screen: kind 1 a 32 x 32 x 32 volume, any other
// kind a 256 x 16 ramp texture.
class TCustomColorGradeTexture : public TCustomColoringTexture {
 public:
  TCustomColorGradeTexture(T3DScreen* screen, uint8_t kind) : TCustomColoringTexture(screen), kind_(kind) {}
  // Made and filled when missing and the screen is ready; null otherwise.
  TBaseTexture* GetTexture() override;
  // Stores the transform and makes the texture again at once.
  void SetColorTransform(TColorTransform* transform);
  void SetSourceLut(TSysBitmap* bitmap, bool owns);
  uint8_t Kind() const { return kind_; }

 protected:
  void Dispose() override;

 private:
  uint8_t kind_;
  Ref<TSysBitmap> source_;
  Ref<TColorTransform> transform_;
};

}  // namespace kav
