#include "platform/window/WinDialog.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "platform/window/WinState.h"

namespace kav::win {

using detail::Find;

namespace {

// Reads the template's little-endian fields; every read checks the end.
class TTemplateReader {
 public:
  TTemplateReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Ok() const { return ok_; }
  size_t Pos() const { return pos_; }

  uint16_t Word() {
    if (!Need(2)) return 0;
    const uint16_t v = uint16_t(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
  }
  uint32_t Dword() {
    const uint32_t lo = Word();
    return lo | uint32_t(Word()) << 16;
  }
  int16_t Short() { return int16_t(Word()); }
  // A NUL-terminated UTF-16 string.
  std::u16string String() {
    std::u16string s;
    for (;;) {
      const uint16_t c = Word();
      if (!ok_ || c == 0) break;
      s.push_back(char16_t(c));
    }
    return s;
  }
  // A string or, after 0xFFFF, an ordinal.
  void StringOrOrdinal(std::u16string& text, uint16_t& ordinal, bool& is_ordinal) {
    const size_t start = pos_;
    const uint16_t first = Word();
    is_ordinal = first == 0xFFFF;
    if (is_ordinal) {
      ordinal = Word();
      return;
    }
    pos_ = start;
    text = String();
  }
  void AlignDword() { pos_ = std::min(size_, (pos_ + 3) & ~size_t(3)); }
  void Skip(size_t n) {
    if (Need(n)) pos_ += n;
  }

 private:
  bool Need(size_t n) {
    if (!ok_ || size_ - pos_ < n) ok_ = false;
    return ok_;
  }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

std::u16string PredefinedClass(uint16_t ordinal) {
  switch (ordinal) {
    case kDialogClassButton: return u"BUTTON";
    case kDialogClassEdit: return u"EDIT";
    case kDialogClassStatic: return u"STATIC";
    case 0x83: return u"LISTBOX";
    case 0x84: return u"SCROLLBAR";
    case 0x85: return u"COMBOBOX";
    default: return {};
  }
}

struct TRunningDialog {
  TDlgProc proc;
  TWndProc previous;
  bool ended = false;
  intptr_t result = 0;
};

TDialogHost* g_host = nullptr;
std::map<HWND, TRunningDialog*> g_running;

TRunningDialog* Running(HWND hwnd) {
  auto it = g_running.find(hwnd);
  return it == g_running.end() ? nullptr : it->second;
}

// The dialog window's procedure while the dialog runs: the dialog procedure
// first; what it leaves goes to the host's window, with the dialog manager's
// own handling of Esc, Enter and the close box.
class TDialogDispatch {
 public:
  LRESULT Proc(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
    TRunningDialog* d = Running(hwnd);
    if (!d) return DefWindowProc(hwnd, msg, wParam, lParam);
    const TWndProc previous = d->previous;
    const bool handled = d->proc && d->proc(hwnd, msg, wParam, lParam) != 0;
    // The dialog procedure takes commands, keys and the close box; every
    // other message reaches the host's window as well, which keeps its
    // own state (size, paint, destruction) whatever the procedure answers.
    if (handled && (msg == WM_COMMAND || msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN || msg == WM_CHAR || msg == WM_CLOSE))
      return 1;
    switch (msg) {
      case WM_CLOSE:
        // The close box cancels, as the Cancel button would.
        SendMessage(hwnd, WM_COMMAND, WPARAM(IDCANCEL), 0);
        return 0;
      case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
          SendMessage(hwnd, WM_COMMAND, WPARAM(IDCANCEL), 0);
          return 0;
        }
        if (wParam == VK_RETURN) {
          const HWND button = g_host ? g_host->EnterButton(hwnd) : 0;
          const int32_t id = button ? GetDlgCtrlID(button) : IDOK;
          SendMessage(hwnd, WM_COMMAND, WPARAM(uint16_t(id)) | WPARAM(BN_CLICKED) << 16, LPARAM(button));
          return 0;
        }
        break;
      case WM_INITDIALOG: return 1;
      case WM_COMMAND: return 0;
      default: break;
    }
    return previous ? CallWindowProc(previous, hwnd, msg, wParam, lParam) : DefWindowProc(hwnd, msg, wParam, lParam);
  }
};
TDialogDispatch g_dispatch;

}  // namespace

bool ParseDialogTemplate(const uint8_t* data, size_t size, TDialogTemplate& out) {
  out = TDialogTemplate{};
  if (!data) return false;
  TTemplateReader r(data, size);
  out.style = r.Dword();
  out.ex_style = r.Dword();
  const uint16_t count = r.Word();
  out.x = r.Short();
  out.y = r.Short();
  out.cx = r.Short();
  out.cy = r.Short();
  if (!r.Ok() || count > kMaxDialogItems) return false;
  std::u16string menu, cls;
  uint16_t ordinal = 0;
  bool is_ordinal = false;
  r.StringOrOrdinal(menu, ordinal, is_ordinal);
  if (is_ordinal || !menu.empty()) return false;  // no menus in dialogs here
  r.StringOrOrdinal(cls, ordinal, is_ordinal);
  if (is_ordinal || !cls.empty()) return false;  // only the standard dialog class
  out.caption = r.String();
  if (out.style & DS_SETFONT) {
    out.has_font = true;
    out.point_size = r.Word();
    out.face = r.String();
  }
  if (!r.Ok()) return false;
  for (uint16_t i = 0; i < count; ++i) {
    r.AlignDword();
    TDialogTemplateItem item;
    item.style = r.Dword();
    item.ex_style = r.Dword();
    item.x = r.Short();
    item.y = r.Short();
    item.cx = r.Short();
    item.cy = r.Short();
    item.id = r.Word();
    std::u16string name;
    r.StringOrOrdinal(name, ordinal, is_ordinal);
    item.class_name = is_ordinal ? PredefinedClass(ordinal) : name;
    if (item.class_name.empty()) return false;
    r.StringOrOrdinal(item.title, item.title_ordinal, is_ordinal);
    const uint16_t extra = r.Word();
    r.Skip(extra);
    if (!r.Ok()) return false;
    out.items.push_back(std::move(item));
  }
  return true;
}

TRect DialogUnitsToPixels(const TDialogTemplate& dialog, int32_t x, int32_t y, int32_t cx, int32_t cy) {
  int32_t dpi_x = 96, dpi_y = 96;
  GetScreenDpi(dpi_x, dpi_y);
  // The base units of an 8-point dialog font at 96 dpi are 6 x 13 pixels;
  // other sizes and resolutions scale them. (Metrics of the face itself are
  // not asked: the controls are drawn by the toolkit with its own font.)
  const int32_t points = dialog.has_font && dialog.point_size > 0 ? dialog.point_size : 8;
  const double scale = double(points) / 8.0 * double(dpi_y) / 96.0;
  const double base_x = 6.0 * scale, base_y = 13.0 * scale;
  auto px = [](int32_t units, double base, int32_t div) { return int32_t(units * base / div + (units >= 0 ? 0.5 : -0.5)); };
  const int32_t left = px(x, base_x, 4), top = px(y, base_y, 8);
  return TRect{left, top, left + px(cx, base_x, 4), top + px(cy, base_y, 8)};
}

TDialogHost* SetDialogHost(TDialogHost* host) {
  TDialogHost* previous = g_host;
  g_host = host;
  return previous;
}

intptr_t DialogBoxIndirectParamW(HINSTANCE, const uint8_t* data, size_t size, HWND owner, TDlgProc proc,
                                 LPARAM init) {
  TDialogTemplate dialog;
  TDialogHost* host = g_host;
  if (!ParseDialogTemplate(data, size, dialog) || !host) return -1;
  const HWND hwnd = host->CreateDialogWindow(dialog, owner);
  if (!hwnd) return -1;
  // The dialog is owned by `owner`'s top-level window whatever window the
  // host made it as: the window system keeps it above that one.
  if (detail::TWindowRec* w = Find(hwnd); w && owner && !(w->style & WS_CHILD) && GetTopLevel(owner) != hwnd)
    w->owner = GetTopLevel(owner);
  TRunningDialog running;
  running.proc = proc;
  g_running[hwnd] = &running;
  running.previous = SetWindowProc(hwnd, TWndProc::Bind<&TDialogDispatch::Proc>(&g_dispatch));

  const bool owner_was_enabled = owner && IsWindowEnabled(owner);
  if (owner_was_enabled) EnableWindow(owner, false);
  SendMessage(hwnd, WM_INITDIALOG, 0, init);
  // Centred with the size the dialog procedure gave it.
  if ((dialog.style & DS_CENTER) && IsWindow(hwnd)) {
    TRect outer, around = GetWorkArea();
    if (owner && IsWindowVisible(owner)) GetWindowRect(owner, &around);
    if (GetWindowRect(hwnd, &outer))
      SetWindowPos(hwnd, 0, around.Left + (around.Width() - outer.Width()) / 2,
                   around.Top + (around.Height() - outer.Height()) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  }
  if (!running.ended && IsWindow(hwnd)) {
    ShowWindow(hwnd, SW_SHOW);
    SetActiveWindow(hwnd);
    SetFocus(hwnd);
  }
  bool quit = false;
  int32_t quit_code = 0;
  TMsg msg;
  while (!running.ended && IsWindow(hwnd)) {
    if (!GetMessage(&msg, 0, 0, 0)) {
      quit = true;
      quit_code = int32_t(msg.wParam);
      running.result = 0;
      break;
    }
    TranslateMessage(msg);
    DispatchMessage(msg);
  }
  if (owner_was_enabled) EnableWindow(owner, true);
  const intptr_t result = running.result;
  if (IsWindow(hwnd)) host->DestroyDialogWindow(hwnd);  // WM_DESTROY still reaches the dialog procedure
  g_running.erase(hwnd);
  if (owner && IsWindow(owner)) SetActiveWindow(owner);
  if (quit) PostQuitMessage(quit_code);
  return result;
}

bool EndDialog(HWND dialog, intptr_t result) {
  TRunningDialog* d = Running(dialog);
  if (!d) return false;
  d->ended = true;
  d->result = result;
  PostMessage(dialog, WM_NULL, 0, 0);  // wakes the modal loop
  return true;
}

int32_t GetDlgCtrlID(HWND hwnd) { return int32_t(GetWindowLong(hwnd, GWL_ID)); }

namespace {

// Children in creation order (window ids only grow).
std::vector<HWND> ChildrenInCreationOrder(HWND parent) {
  std::vector<HWND> children;
  if (detail::TWindowRec* p = Find(parent)) children = p->children;
  std::sort(children.begin(), children.end());
  return children;
}

bool SameText(const std::u16string& a, const char* b, bool fold) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char16_t x = a[i], y = char16_t(uint8_t(b[i]));
    if (fold) {
      if (x >= u'a' && x <= u'z') x = char16_t(x - 32);
      if (y >= u'a' && y <= u'z') y = char16_t(y - 32);
    }
    if (x != y) return false;
  }
  return true;
}

}  // namespace

HWND GetDlgItem(HWND dialog, int32_t id) {
  for (HWND c : ChildrenInCreationOrder(dialog))
    if (GetDlgCtrlID(c) == id) return c;
  return 0;
}

HWND FindWindowExA(HWND parent, HWND after, const char* class_name, const char* window_name) {
  const std::vector<HWND> children = ChildrenInCreationOrder(parent);
  auto it = children.begin();
  if (after) {
    it = std::find(children.begin(), children.end(), after);
    if (it == children.end()) return 0;
    ++it;
  }
  for (; it != children.end(); ++it) {
    if (class_name && !SameText(GetClassName(*it), class_name, true)) continue;
    if (window_name && !SameText(GetWindowText(*it), window_name, false)) continue;
    return *it;
  }
  return 0;
}

}  // namespace kav::win
