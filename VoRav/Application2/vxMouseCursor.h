// Toolkit cursors for code that does not know the window layer: a cursor by
// name and a cursor from a bitmap, through two routine variables that the
// window layer's cursor module fills.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/wpTypes.h"

namespace kav {

class TBitmap;

// -> toolkit cursor id, 0 when none.
using TLoadCursorByName = int32_t (*)(const std::u16string& name);
using TCreateCursorFromBitmap = int32_t (*)(TBitmap* bitmap, TPoint hot_spot);

extern TLoadCursorByName LoadCursorByName;
extern TCreateCursorFromBitmap CreateCursorFromBitmapProc;

}  // namespace kav
