// A null-backend window system per test, and a window class that records
// the messages its windows receive.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/window/WinApi.h"
#include "platform/window/null/NullWindowBackend.h"

namespace kav::win {

struct TRecordedMsg {
  HWND hwnd;
  uint32_t message;
  WPARAM wParam;
  LPARAM lParam;
};

class TRecorder {
 public:
  std::vector<TRecordedMsg> Log;
  // Called for every message before the default procedure; returning true
  // means handled (result in `result`).
  std::function<bool(HWND, uint32_t, WPARAM, LPARAM, LRESULT& result)> Hook;

  LRESULT Proc(HWND h, uint32_t m, WPARAM w, LPARAM l) {
    Log.push_back({h, m, w, l});
    LRESULT result = 0;
    if (Hook && Hook(h, m, w, l, result)) return result;
    return DefWindowProc(h, m, w, l);
  }
  TWndProc AsProc() { return TWndProc::Bind<&TRecorder::Proc>(this); }
  // The messages of interest, in order.
  std::vector<uint32_t> Messages(std::initializer_list<uint32_t> keep = {}) const {
    std::vector<uint32_t> r;
    for (const auto& m : Log)
      if (keep.size() == 0 || std::find(keep.begin(), keep.end(), m.message) != keep.end()) r.push_back(m.message);
    return r;
  }
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitWindowSystem(std::make_unique<TNullWindowBackend>());
    backend = NullBackend();
    TWndClass wc;
    wc.class_name = u"TestWindow";
    wc.proc = recorder.AsProc();
    wc.cursor = IDC_ARROW;
    wc.style = CS_DBLCLKS;
    ASSERT_NE(RegisterClass(wc), 0);
  }
  void TearDown() override { DoneWindowSystem(); }

  HWND MakeTop(uint32_t style = WS_OVERLAPPEDWINDOW | WS_VISIBLE, TRect r = {100, 100, 500, 400}) {
    return CreateWindowEx(0, u"TestWindow", u"top", style, r.Left, r.Top, r.Width(), r.Height(), 0,
                          kProgramInstance, nullptr);
  }
  HWND MakeChild(HWND parent, TRect r) {
    return CreateWindowEx(0, u"TestWindow", u"child", WS_CHILD | WS_VISIBLE, r.Left, r.Top, r.Width(),
                          r.Height(), parent, kProgramInstance, nullptr);
  }
  // Dispatches everything queued now; returns the messages dispatched.
  std::vector<uint32_t> Drain() {
    std::vector<uint32_t> r;
    TMsg m;
    while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) {
      r.push_back(m.message);
      if (m.message == WM_QUIT) break;
      DispatchMessage(m);
    }
    return r;
  }

  TNullWindowBackend* backend = nullptr;
  TRecorder recorder;
};

}  // namespace kav::win
