#include "KavLib2/KavDialogs/winCustomDialog.h"

#include <algorithm>
#include <cmath>

#include "KavLib2/KavDialogs/winDpiMetrics.h"

namespace kav {

namespace {

constexpr uint32_t kDialogStyle = 0x94C809C5;
constexpr uint32_t kChildVisible = 0x50000000;  // WS_CHILD | WS_VISIBLE

void Word(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Dword(std::vector<uint8_t>& out, uint32_t v) {
  Word(out, uint16_t(v));
  Word(out, uint16_t(v >> 16));
}
void String(std::vector<uint8_t>& out, const std::u16string& s) {
  for (char16_t c : s) Word(out, c);
  Word(out, 0);
}
// Template coordinates are 16-bit.
uint16_t Short(int32_t v) { return uint16_t(int16_t(std::clamp(v, -32768, 32767))); }

}  // namespace

uint16_t DialogFontPoints(int32_t dpi_y) {
  if (dpi_y == 120) return 9;
  return uint16_t(std::nearbyint(8.0 * dpi_y / 96.0));
}

// ---- items ----

uint32_t TDialogItem::Style() const {
  switch (kind_) {
    case kKindButton: return kChildVisible | win::WS_TABSTOP | win::BS_PUSHBUTTON;
    case kKindCheckBox: return kChildVisible | win::WS_TABSTOP | win::BS_AUTOCHECKBOX;
    case kKindScrollBox: return kChildVisible | win::BS_GROUPBOX | win::WS_VSCROLL;
    default: return kChildVisible;
  }
}

void TDialogItem::WriteTemplate(std::vector<uint8_t>& out) const {
  while (out.size() % 4) out.push_back(0);
  Dword(out, Style());
  Dword(out, 0);
  Word(out, Short(X));
  Word(out, Short(Y));
  Word(out, Short(Width));
  Word(out, Short(Height));
  Word(out, id_);
  Word(out, 0xFFFF);
  Word(out, win::kDialogClassButton);
  String(out, Caption);
  Word(out, 0);  // no creation data
}

TDialogCustomButton::TDialogCustomButton(TDialog* owner, uint16_t id, uint8_t kind) : TDialogItem(owner, id, kind) {
  Width = 50;
  Height = kind == kKindCheckBox ? 8 : 14;
}

bool TDialogCheckBox::ReadChecked() const {
  return handle_ ? win::SendMessage(handle_, win::BM_GETCHECK, 0, 0) == win::BST_CHECKED : checked_;
}

uint32_t TDialogRadioButton::Style() const {
  return kChildVisible | win::BS_AUTORADIOBUTTON | (group_start_ ? win::WS_GROUP | win::WS_TABSTOP : 0);
}

void TDialogCheckBox::SetChecked(bool value) {
  checked_ = value;
  if (handle_) win::SendMessage(handle_, win::BM_SETCHECK, value ? win::BST_CHECKED : win::BST_UNCHECKED, 0);
}

void TDialogCheckBox::Bind(win::HWND window) {
  TDialogCustomButton::Bind(window);
  if (window) win::SendMessage(window, win::BM_SETCHECK, checked_ ? win::BST_CHECKED : win::BST_UNCHECKED, 0);
}

void TDialogCheckBox::Unbind() {
  if (handle_) checked_ = win::SendMessage(handle_, win::BM_GETCHECK, 0, 0) == win::BST_CHECKED;
  TDialogCustomButton::Unbind();
}

// ---- the dialog ----

TDialog::TDialog() = default;

void TDialog::Dispose() {
  items_.clear();
  TCustomDialogItem::Dispose();
}

TDialogItem* TDialog::AddItem(Ref<TDialogItem> item) {
  items_.push_back(std::move(item));
  return items_.back().get();
}

std::vector<uint8_t> TDialog::BuildTemplate() const {
  std::vector<uint8_t> out;
  Dword(out, kDialogStyle);
  Dword(out, 0);
  Word(out, uint16_t(items_.size()));
  Word(out, 0);
  Word(out, 0);
  Word(out, Short(Width));
  Word(out, Short(Height));
  Word(out, 0);  // no menu
  Word(out, 0);  // the standard dialog class
  String(out, Caption);
  Word(out, DialogFontPoints(DpiY()));
  // The newer shell font name, which every system here offers.
  String(out, u"MS Shell Dlg 2");
  for (const Ref<TDialogItem>& item : items_) item->WriteTemplate(out);
  return out;
}

intptr_t TDialog::ShowModal(win::HWND owner) {
  Ref<TDialog> keep(this);
  const std::vector<uint8_t> bytes = BuildTemplate();
  modal_result_ = win::DialogBoxIndirectParamW(0, bytes.data(), bytes.size(), owner,
                                               win::TDlgProc::Bind<&TDialog::DialogProc>(this), 0);
  return modal_result_;
}

void TDialog::DoCommand(uint16_t id) { win::EndDialog(handle_, id); }

intptr_t TDialog::DialogProc(win::HWND hwnd, uint32_t msg, win::WPARAM wParam, win::LPARAM lParam) {
  switch (msg) {
    case win::WM_INITDIALOG: {
      Bind(hwnd);
      // The controls in creation order are the items in order.
      win::HWND child = 0;
      for (const Ref<TDialogItem>& item : items_) {
        child = win::FindWindowExA(hwnd, child, nullptr, nullptr);
        if (!child) break;
        item->Bind(child);
      }
      TRect outer;
      const TRect insets = win::NonClientInsets(uint32_t(win::GetWindowLong(hwnd, win::GWL_STYLE)),
                                                uint32_t(win::GetWindowLong(hwnd, win::GWL_EXSTYLE)));
      if (win::GetWindowRect(hwnd, &outer))
        win::SetWindowPos(hwnd, 0, 0, 0, Width + insets.Left + insets.Right, Height + insets.Top + insets.Bottom,
                          win::SWP_NOMOVE | win::SWP_NOZORDER);
      for (const Ref<TDialogItem>& item : items_)
        if (item->Handle())
          win::SetWindowPos(item->Handle(), 0, item->X, item->Y, item->Width, item->Height, win::SWP_NOZORDER);
      return 1;
    }
    case win::WM_COMMAND: {
      const uint16_t id = uint16_t(wParam & 0xFFFF);
      if (id != 0) DoCommand(id);
      return 1;
    }
    case win::WM_DESTROY:
      for (const Ref<TDialogItem>& item : items_) item->Unbind();
      Unbind();
      return 0;
    case win::WM_SYSKEYDOWN:
      win::SetFocus(hwnd);
      win::PostMessage(hwnd, win::WM_KEYDOWN, wParam, lParam);
      return 1;
    default: return 0;
  }
}

}  // namespace kav
