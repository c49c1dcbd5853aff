// Test clips made at test time with the `ffmpeg` program (run directly,
// never through a shell), and ffmpeg's own decode of them for comparison.
#pragma once
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/VoRav/Graphics/ToolRun.h"

namespace kav::testclips {

// A folder of its own for this test process, removed at exit.
inline const std::filesystem::path& ClipFolder() {
  static const std::filesystem::path folder = [] {
    auto p = std::filesystem::temp_directory_path() / ("kav_clips_" + std::to_string(getpid()));
    std::filesystem::create_directories(p);
    std::atexit([] { std::error_code ec; std::filesystem::remove_all(ClipFolder(), ec); });
    return p;
  }();
  return folder;
}

inline const std::string kFfmpeg = "/usr/bin/ffmpeg";

// Runs a program (argv[0] an absolute path); true when it exits with 0.
inline bool Run(const std::vector<std::string>& args) { return test::RunTool(args) == 0; }

struct TClipDesc {
  std::string Name;       // file name with extension (decides the container)
  int Width = 64;
  int Height = 48;
  std::string Rate = "25";  // frame rate as ffmpeg reads it
  double Seconds = 2.0;
  std::vector<std::string> Codec{"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"};
  bool Audio = false;
  bool Interlaced = false;
  std::vector<std::string> Extra;  // more output options
};

// A clip description with the default picture, optionally another codec.
inline TClipDesc ClipDesc(std::string name, std::vector<std::string> codec = {}) {
  TClipDesc s;
  s.Name = std::move(name);
  if (!codec.empty()) s.Codec = std::move(codec);
  return s;
}

// Makes the clip once per process; answers its path ("" when ffmpeg fails).
inline std::string MakeClip(const TClipDesc& desc) {
  auto path = ClipFolder() / desc.Name;
  if (std::filesystem::exists(path)) return path.string();
  std::vector<std::string> args{kFfmpeg, "-nostdin", "-y", "-loglevel", "error", "-f", "lavfi", "-i",
                                "testsrc2=size=" + std::to_string(desc.Width) + "x" + std::to_string(desc.Height) +
                                    ":rate=" + desc.Rate + ":duration=" + std::to_string(desc.Seconds)};
  if (desc.Audio) {
    args.insert(args.end(), {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=" +
                                                      std::to_string(desc.Seconds)});
  }
  args.insert(args.end(), desc.Codec.begin(), desc.Codec.end());
  if (desc.Interlaced) args.insert(args.end(), {"-flags", "+ildct+ilme", "-top", "1"});
  if (desc.Audio) args.insert(args.end(), {"-c:a", "aac", "-b:a", "64k"});
  args.insert(args.end(), desc.Extra.begin(), desc.Extra.end());
  args.push_back(path.string());
  return Run(args) ? path.string() : std::string();
}

// ffmpeg's decode of every frame of the clip as 4:2:0 planes, in
// presentation order, one after the other.
struct TReference {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Data;
  size_t FrameBytes() const {
    return size_t(Width) * Height + 2 * size_t((Width + 1) / 2) * size_t((Height + 1) / 2);
  }
  int Frames() const { return FrameBytes() ? int(Data.size() / FrameBytes()) : 0; }
  const uint8_t* Frame(int n) const { return Data.data() + FrameBytes() * size_t(n); }
};

inline TReference DecodeReference(const std::string& clip, int width, int height) {
  TReference ref;
  ref.Width = width;
  ref.Height = height;
  std::string out = clip + ".yuv";
  if (!std::filesystem::exists(out) &&
      !Run({kFfmpeg, "-nostdin", "-y", "-loglevel", "error", "-i", clip, "-map", "0:v:0", "-fps_mode",
            "passthrough", "-f", "rawvideo", "-pix_fmt", "yuv420p", out})) {
    return ref;
  }
  std::ifstream f(out, std::ios::binary);
  ref.Data.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return ref;
}

// Mean absolute difference of two luma planes (the reference's rows are
// `width` bytes, ours `stride`).
inline double LumaDifference(const uint8_t* ours, int stride, const uint8_t* ref, int width, int height) {
  double sum = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) sum += std::abs(int(ours[size_t(y) * stride + x]) - int(ref[size_t(y) * width + x]));
  return sum / (double(width) * height);
}

// The reference frame the luma plane matches best, or -1.
inline int BestMatch(const TReference& ref, const uint8_t* luma, int stride, double* best_diff = nullptr) {
  int best = -1;
  double best_d = 1e9;
  for (int n = 0; n < ref.Frames(); ++n) {
    double d = LumaDifference(luma, stride, ref.Frame(n), ref.Width, ref.Height);
    if (d < best_d) {
      best_d = d;
      best = n;
    }
  }
  if (best_diff) *best_diff = best_d;
  return best;
}

}  // namespace kav::testclips
