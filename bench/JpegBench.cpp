// JPEG decoding of a 24-megapixel photo-like picture (made here with cjpeg)
// at levels 0-3, each beside libjpeg-turbo called in this process on the
// same bytes at the same scale, into the same BGR rows, in the same run:
// "fresh_ms" decodes into a newly allocated buffer each time (as a picture
// that is kept needs), "reused_ms" into one buffer allocated once. The time
// is ours; "x_fresh" and "x_reused" are ours over each.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchMedia.h"
#include "VoRav/Graphics/JpegColorSpace/winJpeg.h"

using namespace kav;
using kav::bench::kCjpeg;
using kav::bench::MakePhotoJpeg;

namespace {

// 6000 x 4000: gradients, soft shapes and grain, compressed at quality 90.
const std::string& PhotoFile() {
  static const std::string path = MakePhotoJpeg(6000, 4000, "kav-bench-24mp");
  return path;
}

// libjpeg-turbo alone: the whole picture at 1 / 2^level as BGR rows into
// `out` (allocated here when null); false on a decoding error.
bool TurboDecode(const std::vector<uint8_t>& bytes, int level, std::unique_ptr<uint8_t[]>& out, size_t& capacity) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  err.error_exit = [](j_common_ptr c) { throw static_cast<int>(c->err->msg_code); };
  try {
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1u << level;
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const size_t stride = (size_t(cinfo.output_width) * 3 + 3) & ~size_t(3);
    const size_t need = stride * cinfo.output_height;
    if (!out || capacity < need) {
      out.reset(new uint8_t[need]);
      capacity = need;
    }
    std::vector<JSAMPROW> rows(cinfo.output_height);
    for (size_t y = 0; y < rows.size(); ++y) rows[y] = out.get() + (rows.size() - 1 - y) * stride;
    while (cinfo.output_scanline < cinfo.output_height)
      jpeg_read_scanlines(&cinfo, rows.data() + cinfo.output_scanline, cinfo.output_height - cinfo.output_scanline);
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
  } catch (int) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
}

void BM_JpegDecodeBesideTurbo(benchmark::State& state) {
  const int level = int(state.range(0));
  if (access(kCjpeg.c_str(), X_OK) != 0 || PhotoFile().empty()) {
    state.SkipWithError("cjpeg (libjpeg-turbo-progs) is not installed");
    return;
  }
  std::ifstream in(PhotoFile(), std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto stream = MakeRef<TMemoryStream>();
  stream->WriteBytes(bytes);
  stream->SetPosition(0);
  auto image = MakeRef<TJpegImage>();
  image->LoadFromStream(stream.get());
  std::unique_ptr<uint8_t[]> reused;
  size_t reused_capacity = 0;
  double ours = 0, fresh = 0, again = 0;
  using Clock = std::chrono::steady_clock;
  auto ms = [](Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); };
  for (auto _ : state) {
    const auto t0 = Clock::now();
    {
      Ref<TFastDIB> dib = image->Decode(uint8_t(level));
      benchmark::DoNotOptimize(dib.get());
    }  // released in the timing, as the fresh buffer below
    const auto t1 = Clock::now();
    {
      std::unique_ptr<uint8_t[]> out;
      size_t capacity = 0;
      if (!TurboDecode(bytes, level, out, capacity)) state.SkipWithError("libjpeg-turbo failed");
      benchmark::DoNotOptimize(out.get());
    }
    const auto t2 = Clock::now();
    if (!TurboDecode(bytes, level, reused, reused_capacity)) state.SkipWithError("libjpeg-turbo failed");
    const auto t3 = Clock::now();
    ours += ms(t0, t1);
    fresh += ms(t1, t2);
    again += ms(t2, t3);
    state.SetIterationTime(ms(t0, t1) / 1000);
  }
  const double n = double(state.iterations());
  state.counters["fresh_ms"] = fresh / n;
  state.counters["reused_ms"] = again / n;
  state.counters["x_fresh"] = fresh > 0 ? ours / fresh : 0;
  state.counters["x_reused"] = again > 0 ? ours / again : 0;
  state.counters["Mpix"] = 24.0 / double(1 << (2 * level));
}
BENCHMARK(BM_JpegDecodeBesideTurbo)->DenseRange(0, 3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
