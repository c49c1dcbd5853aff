// Mouse cursors of forms and of the toolkit.
//
// Form cursor ids run from 0 down to -23 (any other id is 0, the arrow; -1
// shows no cursor). Toolkit ids: -1 none, 1..8 sizing, text, hand, cross and
// move cursors, anything else below 1000 the arrow, 1000 and up entries of
// a table of custom cursors. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/wpTypes.h"
#include "platform/window/WinApi.h"

namespace kav {

class TBitmap;

// The cursor a form cursor id shows (0: none).
win::HCURSOR FormCursorHandle(int32_t id);
void SetFormCursor(int32_t id);
// Makes the window under the mouse set its cursor again at once.
void RefreshCursor();
bool GetCursorPosition(TPoint& point);

// -> toolkit id (1000 and up) or 0 (no bitmap, not 32-bit, or larger than
// 256 x 256).
int32_t CreateCursorFromBitmap(TBitmap* bitmap, TPoint hot_spot);
// -> toolkit id or 0; cached by name. "@<number>" names the program's cursor
// resource of that number.
int32_t LoadCursorFile(const std::u16string& name);
// The handle of a toolkit id (0 for none or an unknown id).
win::HCURSOR ToolkitCursorHandle(int32_t id);
// True when the id's cursor is current already or was set over a previous
// one; false when the id has no cursor.
bool SetMouseCursor(int32_t id);
// Destroys the cursors made here and empties the tables.
void ClearMouseCursors();

}  // namespace kav
