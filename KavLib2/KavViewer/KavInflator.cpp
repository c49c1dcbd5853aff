#include "KavLib2/KavViewer/KavInflator.h"

namespace kav {

// The call-backs run inside zlib's C code, so no exception may pass through
// them: a failure of a stream is kept and raised again after zlib returns.

unsigned TInflator::InputBlock(void* self, unsigned char** block) {
  auto* me = static_cast<TInflator*>(self);
  *block = me->buffer_.data();
  try {
    const int64_t got = me->input_->Read(me->buffer_, static_cast<int64_t>(me->buffer_.size()));
    if (me->OnProgress) me->OnProgress(me);
    return got > 0 ? static_cast<unsigned>(got) : 0;
  } catch (...) {
    me->failure_ = std::current_exception();
    return 0;
  }
}

int TInflator::OutputBlock(void* self, unsigned char* block, unsigned length) {
  auto* me = static_cast<TInflator*>(self);
  try {
    const int64_t put = me->output_->Write(std::span<const uint8_t>(block, length), length);
    if (me->OnProgress) me->OnProgress(me);
    if (put < static_cast<int64_t>(length)) {
      me->failure_ = std::make_exception_ptr(EZDecompressionError("Inflated data could not be written"));
      return 1;  // stops the decoding
    }
    return 0;
  } catch (...) {
    me->failure_ = std::current_exception();
    return 1;
  }
}

void TInflator::Inflate(TStream* input, TStream* output) {
  KAV_ASSERT(input && output);
  input_ = input;
  output_ = output;
  failure_ = nullptr;
  buffer_.assign(kBufferSize, 0);
  window_.assign(kBufferSize, 0);
  z_stream zs{};
  int rc = inflateBackInit(&zs, 15, window_.data());
  if (rc == Z_OK) {
    rc = inflateBack(&zs, &TInflator::InputBlock, this, &TInflator::OutputBlock, this);
    inflateBackEnd(&zs);
  }
  buffer_ = {};
  window_ = {};
  input_ = output_ = nullptr;
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  // Z_BUF_ERROR here means the input ended before the deflate data did.
  if (rc != Z_STREAM_END) RaiseZError(rc == Z_BUF_ERROR ? Z_DATA_ERROR : rc);
}

}  // namespace kav
