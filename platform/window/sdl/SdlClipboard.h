// The SDL backend's clipboard: text through SDL's clipboard; a bitmap (a
// CF_DIB block) offered as "image/png" and "image/bmp" on the X11 CLIPBOARD
// selection of a window of our own, answered when another program asks.
// Under X11 another program's text is read on a connection of our own:
// large texts arrive in increments (INCR), and an owner that does not
// answer costs one short wait, not one per paste. GUI thread only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kav::win {

// A DIB block as a BMP file (14-byte file header + the block), checked: the
// header's fields must agree with the bytes present. Empty when they do not.
std::vector<uint8_t> DibToBmpFile(const std::vector<uint8_t>& dib);
// A DIB block's pixels as straight RGBA rows, top row first; false for a
// block whose header does not fit its bytes, an unsupported kind (run-length
// compressed) or a size past the caps (16384 pixels a side, 2^26 pixels).
bool DibToRgba(const std::vector<uint8_t>& dib, int32_t& width, int32_t& height, std::vector<uint8_t>& rgba);
// RGBA rows as a PNG file; empty on failure.
std::vector<uint8_t> EncodePng(int32_t width, int32_t height, const std::vector<uint8_t>& rgba);

class TSdlClipboard {
 public:
  TSdlClipboard();
  ~TSdlClipboard();
  TSdlClipboard(const TSdlClipboard&) = delete;
  TSdlClipboard& operator=(const TSdlClipboard&) = delete;

  void Put(std::map<uint32_t, std::vector<uint8_t>> contents);
  bool Get(uint32_t format, std::vector<uint8_t>& data);
  bool Has(uint32_t format);
  uint32_t Stamp();

  // How long a paste waits for another program's answer (500 ms); tests
  // lengthen it so that "waited" and "did not wait" stay apart under load.
  static void SetAnswerWaitMs(int ms);

 private:
  struct TX11;
  struct TReader;
  friend struct TClipboardWatch;
  void Watch(const void* event);
  // Lets SDL read pending window-system events, so the watch sees
  // selection requests and changes of ownership now.
  void Pump();
  bool Ours();
  bool OwnSelection();
  // SDL's X connection and our selection window; false without X11.
  bool InitX11();
  void AnswerRequest(const void* request);
  // Another program's text under X11: 1 read, 0 none (or no answer), -1
  // not on X11 (SDL's clipboard is asked instead).
  int ReadForeignText(std::string& utf8);

  std::map<uint32_t, std::vector<uint8_t>> contents_;
  std::vector<uint8_t> png_, bmp_;
  std::string text_utf8_;
  uint32_t stamp_ = 1;
  bool ours_ = false;           // contents_ is what the system clipboard holds
  bool own_selection_ = false;  // held by our own X window (a bitmap)
  std::unique_ptr<TX11> x11_;
  std::unique_ptr<TReader> reader_;
  bool reader_failed_ = false;
};

}  // namespace kav::win
