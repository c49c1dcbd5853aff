// The ICC transform against Little CMS's own transicc, on Debian's profiles
// (icc-profiles-free, colord-data); malformed profiles; the paths without a
// usable colour library.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "VoRav/Graphics/JpegColorSpace/lcms2Dll.h"
#include "VoRav/Graphics/JpegColorSpace/vxBuiltinProfiles.h"
#include "VoRav/Graphics/JpegColorSpace/vxICCColorProfile.h"

extern char** environ;

namespace kav {
namespace {

constexpr const char* kIccDir = "/usr/share/color/icc/";
constexpr const char* kTransicc = "/usr/bin/transicc";

using TRgb = std::array<int, 3>;

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// A temporary file removed at the end of the scope.
struct TTempFile {
  std::string path;
  explicit TTempFile(std::span<const uint8_t> bytes = {}) {
    char name[] = "/tmp/kav_icc_XXXXXX";
    int fd = mkstemp(name);
    path = name;
    if (fd >= 0) {
      if (!bytes.empty() && write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) path.clear();
      close(fd);
    }
  }
  ~TTempFile() { unlink(path.c_str()); }
};

// Little CMS's answer for each colour (red, green, blue as 0..255 values),
// perceptual intent, computed by transicc in floating point.
std::vector<std::array<double, 3>> Transicc(const std::string& from, const std::string& to,
                                            const std::vector<TRgb>& colours) {
  std::string text;
  for (const TRgb& c : colours) text += std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]) + "\n";
  TTempFile in(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  TTempFile out;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in.path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.path.c_str(), O_WRONLY | O_TRUNC, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string i = "-i" + from, o = "-o" + to;
  char* argv[] = {const_cast<char*>("transicc"), const_cast<char*>("-n"), const_cast<char*>("-t0"), i.data(), o.data(),
                  nullptr};
  pid_t pid = 0;
  int status = -1;
  if (posix_spawn(&pid, kTransicc, &actions, nullptr, argv, environ) == 0) waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  std::vector<std::array<double, 3>> result;
  if (status != 0) return result;
  std::ifstream f(out.path);
  std::array<double, 3> v;
  while (f >> v[0] >> v[1] >> v[2]) result.push_back(v);
  return result;
}

std::vector<TRgb> TestColours() {
  std::vector<TRgb> colours;
  for (int r = 0; r < 256; r += 17)
    for (int g = 0; g < 256; g += 17)
      for (int b = 0; b < 256; b += 17) colours.push_back({r, g, b});
  std::mt19937 rng(7);
  for (int i = 0; i < 500; ++i) colours.push_back({int(rng() % 256), int(rng() % 256), int(rng() % 256)});
  return colours;
}

// Where each format keeps red, green and blue in a pixel.
struct TLayout {
  TPixelFormat* format;
  int red, green, blue;
};

Ref<TSysBitmap> BitmapOf(const std::vector<TRgb>& colours, const TLayout& l) {
  Ref<TSysBitmap> b = CreateSysBitmap(int32_t(colours.size()), 1, l.format);
  for (size_t i = 0; i < colours.size(); ++i) {
    uint8_t* p = b->PixelAddress(int32_t(i), 0);
    p[l.red] = uint8_t(colours[i][0]);
    p[l.green] = uint8_t(colours[i][1]);
    p[l.blue] = uint8_t(colours[i][2]);
    if (l.format->BytesPerPixel() == 4) p[6 - l.red - l.green - l.blue] = uint8_t(i * 31);
  }
  return b;
}

// The largest and the mean difference from the expected colours; also
// checks that 4-byte pixels keep their fourth byte.
std::pair<double, double> Difference(TSysBitmap* b, const TLayout& l, const std::vector<std::array<double, 3>>& want) {
  double worst = 0, total = 0;
  for (size_t i = 0; i < want.size(); ++i) {
    const uint8_t* p = b->PixelAddress(int32_t(i), 0);
    const int got[3] = {p[l.red], p[l.green], p[l.blue]};
    for (int c = 0; c < 3; ++c) {
      const double d = std::abs(got[c] - std::clamp(want[i][size_t(c)], 0.0, 255.0));
      worst = std::max(worst, d);
      total += d;
    }
    EXPECT_TRUE(b->BytesPerPixel() == 3 || p[6 - l.red - l.green - l.blue] == uint8_t(i * 31));
  }
  return {worst, total / double(3 * want.size())};
}

bool HaveTools() { return access(kTransicc, X_OK) == 0 && access((std::string(kIccDir) + "colord").c_str(), R_OK) == 0; }

TEST(IccTransformTest, MatchesTransiccOnDebianProfiles) {
  if (!HaveTools()) GTEST_SKIP() << "transicc (liblcms2-utils) or the icc-profiles-free/colord-data profiles are absent";
  ASSERT_TRUE(GetLcmsDll()->Loaded());
  TTempFile builtin_srgb(kSRGBProfile), builtin_adobe(kAdobeRGBProfile);
  const std::string d = kIccDir;
  const std::pair<std::string, std::string> pairs[] = {
      {d + "sRGB.icc", d + "colord/AdobeRGB1998.icc"},
      {d + "colord/ProPhotoRGB.icc", d + "sRGB.icc"},
      {d + "compatibleWithAdobeRGB1998.icc", d + "colord/WideGamutRGB.icc"},
      {builtin_srgb.path, d + "colord/Rec709.icc"},
      {builtin_adobe.path, d + "colord/sRGB.icc"},
  };
  const TStdPixelFormats& f = StdFormats();
  const TLayout layouts[] = {{f.R8G8B8, 2, 1, 0}, {f.B8G8R8, 0, 1, 2}, {f.A8R8G8B8, 2, 1, 0}, {f.A8B8G8R8, 0, 1, 2}};
  const std::vector<TRgb> colours = TestColours();
  for (const auto& [from, to] : pairs) {
    const auto expected = Transicc(from, to, colours);
    ASSERT_EQ(expected.size(), colours.size()) << from << " -> " << to;
    const std::vector<uint8_t> from_bytes = ReadBytes(from), to_bytes = ReadBytes(to);
    // Without precalculation the library rounds its exact result; its
    // default 8-bit optimisation (used for pictures) strays by up to 3 in
    // dark tones, which is the library's own trade-off.
    for (const auto& [precalc, tolerance] : {std::pair{1, 1.5}, std::pair{0, 3.5}})
      for (const TLayout& l : layouts) {
        Ref<TSysBitmap> b = BitmapOf(colours, l);
        IccTransformBitmap(b.get(), b.get(), TRect{0, 0, b->Width(), 1}, TPoint{}, from_bytes, to_bytes, precalc);
        EXPECT_LT(Difference(b.get(), l, expected).first, tolerance) << from << " -> " << to << " in "
                                                                      << l.format->Name() << ", precalc " << precalc;
      }
  }

  // Single colours through the lookup volume of a profile. Straight lines
  // between grid points 8 apart cut the corner of the curves near black
  // (sRGB's linear toe against a pure gamma) by up to about 5; elsewhere the
  // lookup follows the library closely.
  Ref<TColorProfile> adobe = ColorProfileCreate(ReadBytes(pairs[0].second), u"AdobeRGB1998.icc");
  const auto expected = Transicc(builtin_srgb.path, pairs[0].second, colours);
  ASSERT_EQ(expected.size(), colours.size());
  Ref<TSysBitmap> b = BitmapOf(colours, layouts[0]);
  for (size_t i = 0; i < colours.size(); ++i) {
    uint8_t* p = b->PixelAddress(int32_t(i), 0);
    uint32_t out = 0;
    TransformColor(adobe.get(), out, uint32_t(p[0] | p[1] << 8 | p[2] << 16));
    for (int c = 0; c < 3; ++c) p[c] = uint8_t(out >> (8 * c));
  }
  ASSERT_NE(adobe->Volume(), nullptr);
  const auto [worst, mean] = Difference(b.get(), layouts[0], expected);
  EXPECT_LE(worst, 6.0);
  EXPECT_LE(mean, 0.6);
}

}  // namespace
}  // namespace kav
