// The random numbers of show playback (slide shuffles, default transitions,
// mosaic seeds). A generator made with a seed gives the same sequence on
// every run and Randomize leaves it alone, so tests and reproducible shows
// can fix every choice; one made without a seed starts from the system's
// entropy and Randomize reseeds it.
#pragma once

#include <cstdint>
#include <optional>
#include <random>

namespace kav {

class TKavRandom {
 public:
  explicit TKavRandom(std::optional<uint32_t> seed = std::nullopt) : fixed_(seed.has_value()) {
    engine_.seed(seed ? *seed : std::random_device()());
  }
  // Reseeds from the system's entropy unless the generator has a fixed seed.
  void Randomize() {
    if (!fixed_) engine_.seed(std::random_device()());
  }
  // A number in 0 .. n-1 (0 for n below 1).
  int32_t Random(int32_t n) {
    if (n <= 0) return 0;
    return int32_t((uint64_t(engine_()) * uint64_t(n)) >> 32);
  }
  bool Fixed() const noexcept { return fixed_; }

 private:
  std::mt19937 engine_;
  bool fixed_;
};

}  // namespace kav
