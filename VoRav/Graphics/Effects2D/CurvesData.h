// Contour curves: an alpha-to-alpha mapping (0..255 onto 0..255) drawn as a
// Catmull-Rom spline through a few control points, kept as a 256-entry table.
//
// Ten presets are built in; the same contour record (a name, then a
// big-endian point list) can be read from any stream.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kav {

class TStream;

struct TCurvePoint {
  int32_t X = 0;
  int32_t Y = 0;
  friend bool operator==(const TCurvePoint&, const TCurvePoint&) = default;
};

// Number of built-in contour presets (indexes 0..9).
constexpr int32_t kContourPresetCount = 10;

class TCurvesData {
 public:
  // Identity table, points (0, 0) and (255, 255), no middle points, preset 0.
  TCurvesData();

  // Stores the index. 0..9 reads that preset's name and points and builds the
  // table; any other index sets the index to -1 and empties the name, leaving
  // points and table as they were.
  void SelectPreset(int32_t index);
  // Reads the points part of a contour record (from the point count on) and
  // builds the table. A count outside 2..255 or a coordinate outside 0..255
  // answers false and resets the curve to its created state; short streams
  // raise the stream's read error.
  bool LoadFromStream(TStream* stream);
  // Reads the name part of a record: a little-endian 32-bit length, then that
  // many bytes; a length of 0 or outside 0..999999 empties the name.
  void LoadNameFromStream(TStream* stream);
  // Rebuilds the table from the points.
  void Build();

  uint8_t GetValue(int32_t x) const noexcept { return table_[size_t(x) & 255]; }
  const std::array<uint8_t, 256>& Table() const noexcept { return table_; }
  int32_t PresetIndex() const noexcept { return preset_index_; }
  const std::string& Name() const noexcept { return name_; }
  TCurvePoint FirstPoint() const noexcept { return first_; }
  TCurvePoint LastPoint() const noexcept { return last_; }
  const std::vector<TCurvePoint>& MiddlePoints() const noexcept { return middle_; }

 private:
  void Reset();

  std::string name_;
  int32_t preset_index_ = 0;
  std::array<uint8_t, 256> table_{};
  TCurvePoint first_{0, 0};
  TCurvePoint last_{255, 255};
  std::vector<TCurvePoint> middle_;
};

// The contour record of preset `index` (0..9), as a stream would hold it;
// empty for any other index.
std::string ContourPresetRecord(int32_t index);

}  // namespace kav
