// The JPEG wrapper: one compressed picture held in memory, its header facts,
// and decoding through libjpeg at 1/1, 1/2, 1/4 or 1/8 of the full size.
//
// Colour pictures decode to 24-bit DIBs (blue, green, red in memory)
// with libjpeg's accurate settings; CMYK and YCCK pictures are converted to
// the same 24 bits; grey pictures decode to 8-bit grey DIBs, every level of
// grey kept (no palette reduction). A decompressor exists only while one read or one decode
// runs, so one image may be decoded from any thread, one call at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "VoRav/Graphics/FastDIB.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/wpExceptions.h"

namespace kav {

// A fatal libjpeg error: "JPEG error #<libjpeg message code>".
KAV_DECLARE_COMMON_EXCEPTION(EJPEG, TCommonException);

// The compressed picture.
class TJPEGData : public TRefObject {
 public:
  Ref<TMemoryStream> Data;  // the complete compressed bytes
  int32_t Height = 0;       // from the frame header
  int32_t Width = 0;
  bool Grayscale = false;   // the file's colour space is grey
  bool Cmyk = false;        // the file's colour space is CMYK or YCCK
  bool Arithmetic = false;  // arithmetic-coded
};

// Progress stages.
enum : uint8_t { psStarting = 0, psRunning = 1, psEnding = 2 };

using TJpegProgressEvent = TDelegate<void(TRefObject* sender, uint8_t stage, uint8_t percent, bool redraw,
                                          const TRect& rect, const std::u16string& message)>;

// An object that reports the progress of a long operation.
class TProgress : public TRefObject {
 public:
  virtual void Progress(TRefObject* sender, uint8_t stage, uint8_t percent, bool redraw, const TRect& rect,
                        const std::u16string& message) = 0;
};

class TJpegImage : public TProgress {
 public:
  // Replaced on every read.
  Ref<TJPEGData> Image;
  // The file has several scans (informational).
  bool Progressive = false;
  // Set when a read made new picture data.
  bool PaletteChanged = false;
  // Decode at 1 / 2^Scale of the full size (0..3).
  uint8_t Scale = 0;
  // Receives progress: stage 0 at the start of a decode, stage 1 while
  // libjpeg works (called on the decoding thread, from inside libjpeg: an
  // exception it raises is dropped), stage 2 at the end with 100, or 0 after
  // a failure.
  TJpegProgressEvent OnProgress;

  // Calls OnProgress when assigned.
  void Progress(TRefObject* sender, uint8_t stage, uint8_t percent, bool redraw, const TRect& rect,
                const std::u16string& message) override;
  // Called after reads and decodes; does nothing.
  virtual void Changed() {}

  // ReadData from the stream's position to its end.
  void LoadFromStream(TStream* stream);
  // Replaces Image by `count` bytes of the stream and reads their header.
  // Raises EStreamReadError when fewer bytes come (or the count is over the
  // in-memory limit) and EJPEG when libjpeg rejects the header.
  void ReadData(TStream* stream, int64_t count);
  // Width and height of Image; 0 x 0 without one.
  TSize GetSize() const noexcept;
  // Decodes the whole picture at 1 / 2^scale into a new bottom-up DIB of
  // 24 bits (colour; 32 with `four_bytes`, the fourth byte 255) or 8 bits
  // (grey), scan line y in the DIB's image row y from the top. Raises EJPEG
  // for a libjpeg failure (also without picture data), EOutOfMemory when the
  // output is over the bitmap limits.
  Ref<TFastDIB> Decode(uint8_t scale, bool four_bytes = false);
  // libjpeg's first warning of the last Decode (damaged data it decoded
  // past), empty when it gave none, and whether it was that the data ended
  // early.
  std::string DecodeWarning;
  bool DecodeWarningEndOfData = false;
};

struct TJpegJob;

// Decodes a picture at 1 / 2^scale a band of rows at a time, top to bottom,
// into rows the caller owns: the bytes Decode gives, without the whole
// picture decoded at once. Holds a reference to the compressed data.
class TJpegRowDecoder {
 public:
  // Reads the header and starts the decompression. Raises EJPEG for a
  // libjpeg failure (also without picture data) and EOutOfMemory when the
  // output is over the bitmap limits. CMYK and YCCK pictures are refused
  // with EJPEG (they are converted a row at a time by Decode only).
  TJpegRowDecoder(Ref<TJPEGData> data, uint8_t scale, bool four_bytes);
  ~TJpegRowDecoder();
  TJpegRowDecoder(const TJpegRowDecoder&) = delete;
  TJpegRowDecoder& operator=(const TJpegRowDecoder&) = delete;

  int32_t Width() const noexcept;
  int32_t Height() const noexcept;
  // 4 (colour with four_bytes), 3 (colour) or 1 (grey).
  int32_t BytesPerPixel() const noexcept;
  // Rows read so far.
  int32_t RowsRead() const noexcept { return read_; }
  // Progress (0..100) while libjpeg works; must not raise.
  void SetProgress(void (*on_progress)(void* context, int percent) noexcept, void* context) noexcept;
  // The next min(count, rows left) rows into rows[0], rows[1], ...
  // (Width() x BytesPerPixel() bytes each). Raises EJPEG for a libjpeg
  // failure; the decoder is done after one.
  void Read(uint8_t* const* rows, int32_t count);
  // libjpeg's first warning so far (damaged data it decoded past), empty
  // when it gave none.
  std::string Warning() const;
  bool WarningIsEndOfData() const;

 private:
  Ref<TJPEGData> data_;
  std::unique_ptr<TJpegJob> job_;
  int32_t read_ = 0;
  bool failed_ = false;
};

}  // namespace kav
