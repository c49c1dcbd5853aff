// A process-wide setting put in force for a scope: the fuzz entry points
// lower size limits this way while they run, with the player's code paths.
#pragma once

namespace kav {

// Set puts a value in force and answers the previous one.
template <typename T, T (*Set)(T) noexcept>
class TScopedSetting {
 public:
  explicit TScopedSetting(T value) noexcept : saved_(Set(value)) {}
  ~TScopedSetting() { Set(saved_); }
  TScopedSetting(const TScopedSetting&) = delete;
  TScopedSetting& operator=(const TScopedSetting&) = delete;

 private:
  T saved_;
};

}  // namespace kav
