// The display driver's per-application values: on Windows NT 5.x with an
// NVIDIA driver, three values in the driver's key are set for the program's
// file name while it runs, and the earlier values are put back at the end.
// Two twins do this, one for the display device "\Device\Video1" and one for
// "\Device\Video0".
//
// Everything goes through the registry gate (winRegistry.h). This system
// reports a later Windows version, so at run time nothing is read or
// written; the steps are kept whole for the platform facts they are given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kav {

class TDriverAppValues {
 public:
  // The twin for the device-map value `device` ("\Device\Video1" or "\Device\Video0").
  explicit TDriverAppValues(std::u16string device) : device_(std::move(device)) {}

  // Records the program's file name and, on NT (platform 2) version 5 with
  // an NVIDIA driver, saves and sets the three values. Any key or value that
  // cannot be read ends the step silently.
  void Init(const std::u16string& program_file_name, uint32_t platform_id, uint32_t major_version);
  // Puts back what Init changed: earlier values get their type and bytes
  // back, values that did not exist are deleted. Runs once.
  void Done();

  const std::u16string& DriverKeyPath() const noexcept { return path_; }
  size_t TouchedCount() const noexcept { return entries_.size(); }

 private:
  struct TEntry {
    std::u16string Program;
    std::u16string Name;
    bool Existed = false;
    uint32_t Type = 0;
    std::vector<uint8_t> Old;
  };
  std::u16string device_;
  std::u16string program_;
  std::u16string path_;
  std::vector<TEntry> entries_;
};

// The twins' start and end steps for the running program (start-up and
// shutdown call each once).
void InitDriverAppValues1();
void InitDriverAppValues0();
void DoneDriverAppValues1();
void DoneDriverAppValues0();

}  // namespace kav
