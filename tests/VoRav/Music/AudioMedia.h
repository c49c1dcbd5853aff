// Sound files made at test time by the machine's own tools (sox, lame,
// oggenc, ffmpeg), started without a shell, in a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include "VoRav/vxMemoryStream.h"
#include "VoRav/wpFileStream.h"
#include "VoRav/vxUTF8.h"
#include "tests/VoRav/Graphics/ToolRun.h"

namespace kav::test {

inline const std::string kSox = "/usr/bin/sox";
inline const std::string kLame = "/usr/bin/lame";
inline const std::string kOggEnc = "/usr/bin/oggenc";
inline const std::string kFfmpeg = "/usr/bin/ffmpeg";
inline const std::string kMpg123 = "/usr/bin/mpg123";

class TAudioMedia {
 public:
  TAudioMedia() : dir_("snd") {}
  // A sine of `hz` for `seconds`; `encoding` extra sox output options
  // (e.g. {"-e", "floating-point", "-b", "32"}).
  std::string Wav(const std::string& name, uint32_t rate, int channels, int bits, double seconds, double hz = 1000,
                  std::vector<std::string> encoding = {}) {
    return Synth(name, rate, channels, bits, seconds, std::to_string(hz), std::move(encoding));
  }
  // A sweep from 300 Hz to 3 kHz: no two stretches alike, so positions in
  // decoded copies can be matched.
  std::string Sweep(const std::string& name, uint32_t rate, int channels, double seconds) {
    return Synth(name, rate, channels, 16, seconds, "300-3000", {});
  }
  std::string Synth(const std::string& name, uint32_t rate, int channels, int bits, double seconds,
                    const std::string& wave, std::vector<std::string> encoding) {
    const std::string out = dir_ / name;
    std::vector<std::string> args = {kSox, "-n", "-r", std::to_string(rate), "-c", std::to_string(channels)};
    if (encoding.empty()) encoding = {"-b", std::to_string(bits)};
    args.insert(args.end(), encoding.begin(), encoding.end());
    args.insert(args.end(), {out, "synth", std::to_string(seconds), "sine", wave, "vol", "0.5"});
    EXPECT_EQ(RunTool(args), 0) << name;
    return out;
  }
  std::string Mp3(const std::string& name, const std::string& wav, std::vector<std::string> options) {
    const std::string out = dir_ / name;
    std::vector<std::string> args = {kLame, "--quiet"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {wav, out});
    EXPECT_EQ(RunTool(args), 0) << name;
    return out;
  }
  std::string Ogg(const std::string& name, const std::string& wav) {
    const std::string out = dir_ / name;
    EXPECT_EQ(RunTool({kOggEnc, "-Q", "-o", out, wav}), 0) << name;
    return out;
  }
  std::string Ffmpeg(const std::string& name, const std::string& input, std::vector<std::string> codec) {
    const std::string out = dir_ / name;
    std::vector<std::string> args = {kFfmpeg, "-nostdin", "-loglevel", "error", "-y", "-i", input};
    args.insert(args.end(), codec.begin(), codec.end());
    args.push_back(out);
    EXPECT_EQ(RunTool(args), 0) << name;
    return out;
  }
  std::string Path(const std::string& name) const { return dir_ / name; }
  // A 16-bit stereo WAV of one constant level, written by hand (sox's DC
  // shift settles in over its first samples).
  std::string Level(const std::string& name, double seconds, int16_t level, uint32_t rate = 44100) {
    const std::string out = Path(name);
    const uint32_t frames = uint32_t(seconds * rate);
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0};
    auto le = [&b](uint32_t v, int n) {
      for (int k = 0; k < n; ++k) b.push_back(uint8_t(v >> (8 * k)));
    };
    le(rate, 4), le(rate * 4, 4), le(4, 2), le(16, 2);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    le(frames * 4, 4);
    for (uint32_t i = 0; i < frames * 2; ++i) le(uint16_t(level), 2);
    WriteFileBytes(out, b);
    return out;
  }

 private:
  TScratchDir dir_;
};

inline Ref<TStream> OpenTestFile(const std::string& path) { return OpenFileStreamRead(SystemUTF8ToWide(path)); }

inline Ref<TStream> BytesStream(std::span<const uint8_t> bytes) {
  auto s = MakeRef<TMemoryStream>();
  s->WriteBytes(bytes);
  s->SetPosition(0);
  return s;
}

// 16-bit samples from little-endian bytes.
inline std::vector<int16_t> Samples16(std::span<const uint8_t> bytes) {
  std::vector<int16_t> out(bytes.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = int16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return out;
}

}  // namespace kav::test
