#include "VoRav/Application2/winMouseCursor.h"

#include <map>
#include <vector>

#include "VoRav/Application2/vxMouseCursor.h"
#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/wpExceptions.h"

namespace kav {

using namespace win;

// Filled here, without code at start-up: whoever reads them links this module in.
TLoadCursorByName LoadCursorByName = &LoadCursorFile;
TCreateCursorFromBitmap CreateCursorFromBitmapProc = &CreateCursorFromBitmap;

namespace {

struct TCursorEntry {
  HCURSOR handle = 0;
  bool owned = false;
};

struct TCursorTables {
  std::vector<TCursorEntry> entries;  // toolkit id - 1000
  int32_t count = 0;
  std::map<std::u16string, int32_t> by_name;
};

TCursorTables& Tables() {
  static auto* tables = new TCursorTables();
  return *tables;
}

int32_t AddEntry(HCURSOR handle, bool owned) {
  TCursorTables& t = Tables();
  if (t.count >= static_cast<int32_t>(t.entries.size())) {
    const size_t grown = t.entries.empty() ? 16 : t.entries.size() * 2;
    KAV_ASSERT(grown > static_cast<size_t>(t.count) && grown < (1u << 20));
    t.entries.resize(grown);
  }
  t.entries[static_cast<size_t>(t.count)] = TCursorEntry{handle, owned};
  return 1000 + t.count++;
}

}  // namespace

HCURSOR FormCursorHandle(int32_t id) {
  uint32_t system = IDC_ARROW;
  uint32_t program = 0;
  switch (id) {
    case -1: return 0;
    case -3: system = IDC_CROSS; break;
    case -4: system = IDC_IBEAM; break;
    case -5: case -22: system = IDC_SIZEALL; break;
    case -6: system = IDC_SIZENESW; break;
    case -7: system = IDC_SIZENS; break;
    case -8: system = IDC_SIZENWSE; break;
    case -9: system = IDC_SIZEWE; break;
    case -10: system = IDC_UPARROW; break;
    case -11: system = IDC_WAIT; break;
    case -14: program = 107; break;
    case -15: program = 135; break;
    case -18: system = IDC_NO; break;
    case -19: system = IDC_APPSTARTING; break;
    case -20: system = IDC_HELP; break;
    case -21: system = IDC_HAND; break;
    case -23: program = 106; break;
    default: break;  // 0, -2, -12, -13, -16, -17 and every unknown id
  }
  if (program) {
    // A program cursor not linked in shows the arrow rather than nothing.
    HCURSOR h = LoadCursor(kProgramInstance, program);
    return h ? h : LoadCursor(0, IDC_ARROW);
  }
  return LoadCursor(0, system);
}

void SetFormCursor(int32_t id) { SetCursor(FormCursorHandle(id)); }

void RefreshCursor() {
  TPoint p;
  if (!OnGuiThread() || !GetCursorPos(&p)) return;
  HWND h = WindowFromPoint(p);
  if (!h) return;
  LRESULT hit = SendMessage(h, WM_NCHITTEST, 0, MakeLParam(p.X, p.Y));
  SendMessage(h, WM_SETCURSOR, h, MakeLParam(static_cast<int32_t>(hit), WM_MOUSEMOVE));
}

bool GetCursorPosition(TPoint& point) { return GetCursorPos(&point); }

int32_t CreateCursorFromBitmap(TBitmap* bitmap, TPoint hot_spot) {
  if (!bitmap || bitmap->BytesPerPixel() != 4 || bitmap->Width() < 1 || bitmap->Height() < 1 || bitmap->Width() > 256 || bitmap->Height() > 256)
    return 0;
  const auto width = static_cast<size_t>(bitmap->Width());
  std::vector<uint32_t> argb(width * static_cast<size_t>(bitmap->Height()));
  for (int32_t y = 0; y < bitmap->Height(); ++y)
    bitmap->GetPixels32(0, y, bitmap->Width(), std::span<uint32_t>(argb.data() + width * static_cast<size_t>(y), width), 0);
  HCURSOR h = CreateCursor(argb.data(), bitmap->Width(), bitmap->Height(), hot_spot.X, hot_spot.Y);
  return h ? AddEntry(h, true) : 0;
}

int32_t LoadCursorFile(const std::u16string& name) {
  TCursorTables& t = Tables();
  auto it = t.by_name.find(name);
  if (it != t.by_name.end()) return it->second;
  HCURSOR h = 0;
  if (name.size() > 1 && name[0] == u'@') {
    uint32_t number = 0;
    bool digits = true;
    for (size_t i = 1; i < name.size() && digits; ++i) {
      digits = name[i] >= u'0' && name[i] <= u'9' && number < 100000;
      number = number * 10 + static_cast<uint32_t>(name[i] - u'0');
    }
    if (digits) h = LoadCursor(kProgramInstance, number);
  }
  // Cursor files (.cur, .ani) are not read: such a name gives no cursor.
  if (!h) return 0;
  int32_t id = AddEntry(h, false);
  t.by_name.emplace(name, id);
  return id;
}

HCURSOR ToolkitCursorHandle(int32_t id) {
  uint32_t system = IDC_ARROW;
  switch (id) {
    case -1: return 0;
    case 1: system = IDC_SIZEWE; break;
    case 2: system = IDC_SIZENS; break;
    case 3: system = IDC_IBEAM; break;
    case 4: system = IDC_HAND; break;
    case 5: system = IDC_CROSS; break;
    case 6: system = IDC_SIZENESW; break;
    case 7: system = IDC_SIZENWSE; break;
    case 8: system = IDC_SIZEALL; break;
    default:
      if (id >= 1000) {
        TCursorTables& t = Tables();
        return id - 1000 < t.count ? t.entries[static_cast<size_t>(id - 1000)].handle : 0;
      }
      break;
  }
  return LoadCursor(0, system);
}

bool SetMouseCursor(int32_t id) {
  HCURSOR h = ToolkitCursorHandle(id);
  if (h && GetCursor() == h) return true;
  if (!h) return false;
  return SetCursor(h) != 0;
}

void ClearMouseCursors() {
  TCursorTables& t = Tables();
  for (int32_t i = 0; i < t.count; ++i)
    if (t.entries[static_cast<size_t>(i)].owned) DestroyCursor(t.entries[static_cast<size_t>(i)].handle);
  t.entries.clear();
  t.count = 0;
  t.by_name.clear();
}

}  // namespace kav
