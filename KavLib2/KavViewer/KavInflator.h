// Whole-block inflation of raw deflate data from one stream into another,
// through zlib's call-back interface with a 32 KB window.
#pragma once

#include <exception>
#include <vector>

#include "KavLib2/KavViewer/KavZStream.h"
#include "VoRav/SysObj2.h"

namespace kav {

class TInflator : public TRefObject {
 public:
  static constexpr size_t kBufferSize = 32768;

  // Inflates the raw deflate data at `input`'s position into `output` at its
  // position. Raises EZDecompressionError with zlib's message when the data
  // are corrupt, end before the deflate data do, or when `output` takes fewer
  // bytes than it is given (which is also how an output that caps its size
  // stops a decompression bomb). Bytes after the data are left unread only
  // as far as zlib did not take them into its buffer.
  void Inflate(TStream* input, TStream* output);

  TZProgressEvent OnProgress;

 private:
  static unsigned InputBlock(void* self, unsigned char** block);
  static int OutputBlock(void* self, unsigned char* block, unsigned length);

  TStream* input_ = nullptr;
  TStream* output_ = nullptr;
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> window_;
  std::exception_ptr failure_;
};

}  // namespace kav
