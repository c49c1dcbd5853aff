// The libjpeg calls behind the JPEG wrapper, as plain functions over a plain
// job record.
//
// libjpeg reports fatal errors through its error-exit routine, which must not
// return. Here it jumps back (longjmp) into the function that made the libjpeg
// call; those functions hold no C++ object with a destructor, so the jump
// skips no clean-up. The caller turns a failed job into an exception after
// the call has returned.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

namespace kav {

// What the caller asks libjpeg to produce.
enum TJpegOutput : uint8_t {
  joBGR = 0,   // 3 bytes a pixel: blue, green, red
  joGrey = 1,  // 1 byte a pixel
  joBGRA = 2,  // 4 bytes a pixel: blue, green, red, 255
};

struct TJpegJob {
  // The libjpeg state; `err` first so that the error routines find the job.
  jpeg_error_mgr err;
  jpeg_progress_mgr progress;
  jpeg_decompress_struct cinfo;
  std::jmp_buf jump;
  bool created;
  bool started;

  // Input: the compressed bytes and the scale (decode at 1 / 2^scale).
  const uint8_t* data;
  size_t size;
  int scale;
  // Colour files come out as joBGRA instead of joBGR (grey and CMYK files
  // are not affected).
  bool four_bytes;

  // Filled by JpegReadHeader.
  int32_t width;   // full size from the frame header
  int32_t height;
  bool grayscale;  // the file's colour space is libjpeg's grey space
  bool cmyk;       // the file's colour space is CMYK or YCCK
  bool progressive;
  bool arithmetic;
  // Filled by JpegStartOutput: the output size and layout.
  int32_t out_width;
  int32_t out_height;
  TJpegOutput output;

  // Progress: called with 0..100 while libjpeg works; must not raise.
  void (*on_progress)(void* context, int percent) noexcept;
  void* progress_context;

  // The libjpeg message code of the fatal error (0 when none).
  int error_code;

  // Warnings of damaged data: libjpeg goes on past it (a wrong Huffman
  // code, bytes where a marker should be, the data ending early) and draws
  // what it can. Counted, and the first one's text kept.
  int warnings;
  int warning_code;
  char warning[JMSG_LENGTH_MAX];
  // libjpeg's own message formatter (the job's formatter writes nothing).
  void (*format_message)(j_common_ptr c, char* buffer);
};

// libjpeg's warning that the data ended before the picture did.
bool JpegWarningIsEndOfData(int code);
// libjpeg's message code used when a file has too many scans.
constexpr int kJpegTooManyScans = 10000;
// Scans a file may have before decoding is refused (a progressive file of
// thousands of tiny scans costs time without limit).
constexpr int kJpegMaxScans = 500;
// libjpeg's working memory per decompression.
constexpr long kJpegMaxMemory = 1L << 30;

// Each answers true on success; false after a fatal libjpeg error, with the
// job's error_code set. The job is zero-filled by JpegInitJob.
void JpegInitJob(TJpegJob& job, const uint8_t* data, size_t size, int scale);
// Creates the decompressor over the bytes and reads the header.
bool JpegReadHeader(TJpegJob& job);
// Sets the scale and the output colour space (grey files grey, colour files
// blue-green-red or, with four_bytes, blue-green-red-255, CMYK and YCCK files CMYK converted here), starts the
// decompression and fills out_width and out_height.
bool JpegStartOutput(TJpegJob& job);
// Reads all rows: row y goes to rows[y], out_width x 3 bytes (joBGR),
// x 4 (joBGRA) or out_width bytes (joGrey). `cmyk_row` is room for one row of 4 bytes a
// pixel, used when the file holds CMYK or YCCK.
bool JpegReadRows(TJpegJob& job, uint8_t* const* rows, uint8_t* cmyk_row);
// The same rows a few at a time, for a colour (joBGR or joBGRA) or grey
// output: JpegBeginRows starts the decompression; each JpegReadRowBand reads
// the next `count` rows (rows[0] the first of them; fewer when the picture
// ends) and, with the last row, finishes the decompression as JpegReadRows
// does. The rows are the bytes JpegReadRows gives.
bool JpegBeginRows(TJpegJob& job);
bool JpegReadRowBand(TJpegJob& job, uint8_t* const* rows, int32_t count);
// Destroys the decompressor (always safe; also after a failure).
void JpegEndJob(TJpegJob& job);

// Writes one row of CMYK pixels as blue, green, red. Adobe files store the
// inks inverted (255 = no ink); others store the inks themselves.
void CmykRowToBGR(const uint8_t* cmyk, uint8_t* bgr, int32_t count, bool inverted);

}  // namespace kav
