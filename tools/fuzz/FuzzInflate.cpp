#include "tools/fuzz/FuzzTargets.h"

#include "KavLib2/KavViewer/KavInflator.h"
#include "KavLib2/KavViewer/KavZStream.h"
#include "VoRav/vxMemoryStream.h"

namespace kav {

namespace {

// Output read or kept per pass. A few bytes of deflate can stand for a
// thousand times as much output, so the cap, not the input, sets the cost
// of one run; 64 KiB still reaches every block kind and the cap itself.
constexpr int64_t kCap = 1 << 16;

Ref<TMemoryStream> Input(const uint8_t* data, size_t size) {
  auto m = MakeRef<TMemoryStream>();
  m->WriteBytes(std::span<const uint8_t>(data, size));
  m->SetPosition(0);
  return m;
}

void Drain(TStream* s) {
  std::vector<uint8_t> block(16384);
  int64_t total = 0;
  while (int64_t n = s->Read(block, static_cast<int64_t>(block.size()))) {
    total += n;
    if (total > kCap) return;
  }
}

// An output that stops taking bytes at the cap, as a bounded caller would.
class TCappedStream : public TMemoryStream {
 protected:
  int64_t DoWrite(std::span<const uint8_t> b) override {
    return GetSize() + static_cast<int64_t>(b.size()) > kCap ? 0 : TMemoryStream::DoWrite(b);
  }
};

}  // namespace

int FuzzInflate(const uint8_t* data, size_t size) {
  try {
    Drain(MakeRef<TInflateStream>(Input(data, size).get()).get());
  } catch (const Exception&) {
  }
  try {
    Drain(MakeRef<TZDecompressionStream>(Input(data, size).get()).get());
  } catch (const Exception&) {
  }
  try {
    auto out = MakeRef<TCappedStream>();
    MakeRef<TInflator>()->Inflate(Input(data, size).get(), out.get());
  } catch (const Exception&) {
  }
  return 0;
}

}  // namespace kav
