// The clipboard of the window layer: the opening (who holds it, what it
// changed) here, the contents in the backend (the null backend's memory, or
// the system clipboard).
#include <atomic>

#include "platform/window/WinState.h"

namespace kav::win {

using detail::State;
using detail::TState;

namespace {

// The formats a first SetClipboardData without EmptyClipboard keeps.
constexpr uint32_t kKnownFormats[] = {CF_DIB, CF_UNICODETEXT};

bool CheckOpen(TState& s) {
  if (!OnGuiThread()) {
    SetLastError(ERROR_WRONG_THREAD);
    return false;
  }
  if (!s.clipboard.open) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return false;
  }
  return true;
}

}  // namespace

bool OpenClipboard(HWND owner) {
  TState& s = State();
  if (!OnGuiThread()) {
    SetLastError(ERROR_WRONG_THREAD);
    return false;
  }
  if (owner && !IsWindow(owner)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (s.clipboard.open) {
    if (s.clipboard.owner == owner) return true;  // the same window may open it again
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  s.clipboard = TState::TClipboardOpening{};
  s.clipboard.open = true;
  s.clipboard.owner = owner;
  return true;
}

bool CloseClipboard() {
  TState& s = State();
  if (!CheckOpen(s)) return false;
  TState::TClipboardOpening done = std::move(s.clipboard);
  s.clipboard = TState::TClipboardOpening{};
  if (done.changed) s.backend->ClipboardPut(std::move(done.contents));
  return true;
}

bool EmptyClipboard() {
  TState& s = State();
  if (!CheckOpen(s)) return false;
  s.clipboard.contents.clear();
  s.clipboard.changed = true;
  return true;
}

bool SetClipboardData(uint32_t format, std::vector<uint8_t> data) {
  TState& s = State();
  if (!CheckOpen(s)) return false;
  if (!s.clipboard.changed) {
    // Adding to what is there: the formats the layer knows stay.
    for (uint32_t f : kKnownFormats) {
      std::vector<uint8_t> kept;
      if (f != format && s.backend->ClipboardGet(f, kept)) s.clipboard.contents[f] = std::move(kept);
    }
    s.clipboard.changed = true;
  }
  s.clipboard.contents[format] = std::move(data);
  return true;
}

bool GetClipboardData(uint32_t format, std::vector<uint8_t>& data) {
  TState& s = State();
  if (!CheckOpen(s)) return false;
  if (s.clipboard.changed) {
    auto it = s.clipboard.contents.find(format);
    if (it == s.clipboard.contents.end()) return false;
    data = it->second;
    return true;
  }
  return s.backend->ClipboardGet(format, data);
}

bool IsClipboardFormatAvailable(uint32_t format) {
  TState& s = State();
  if (!OnGuiThread()) {
    SetLastError(ERROR_WRONG_THREAD);
    return false;
  }
  if (s.clipboard.open && s.clipboard.changed) return s.clipboard.contents.count(format) != 0;
  return s.backend->ClipboardHas(format);
}

uint32_t GetClipboardSequenceNumber() {
  // The backend is asked on the GUI thread only; other threads get the
  // number it answered last.
  static std::atomic<uint32_t> last{0};
  if (OnGuiThread()) last = State().backend->ClipboardStamp();
  return last;
}

HWND GetOpenClipboardWindow() {
  TState& s = State();
  return s.clipboard.open ? s.clipboard.owner : 0;
}

}  // namespace kav::win
