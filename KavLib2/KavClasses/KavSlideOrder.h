// Slide order: which project section holds the slide at a position, and the
// random slide orders of the show music.
//
// A project with [Main] ProjectFilePath keeps one order per path for the
// whole run (shared by every show opened from that project); it starts as
// the identity over [Times] opt_slidescount and grows with identity entries
// when a later position is asked for. The orders are guarded by one lock.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "KavLib2/Effects/KavEffManager.h"
#include "KavLib2/KavClasses/KavRandom.h"

namespace kav {

class TIniFile;
class TIniList;

// Counts read from a project are cut to these. opt_slidescount also bounds
// how far a stored slide order may grow; it is the effect manager's bound, so
// every slide counted has its transition.
inline constexpr int32_t kMaxSlidesCount = kMaxEffectSlides;
inline constexpr int32_t kMaxCustomDialogsCount = 1000;

// [Times] opt_slidescount within 0 .. EffectSlidesLimit() (kMaxSlidesCount
// unless lowered; 0 without a project).
int32_t ReadSlidesCount(TIniFile* ini);
// [Main] opt_customdialogscount within 0 .. kMaxCustomDialogsCount.
int32_t ReadCustomDialogsCount(TIniFile* ini);

// An order is a vector of these pairs (a TSlideRandomList).
struct TSlideOrderEntry {
  int32_t Index = 0;
  int32_t Key = 0;
};

// Shuffles the entries: Randomize, every entry gets a key Random(1000000),
// then the entries are sorted by key (a selection sort that moves the
// largest key of the first k entries to place k-1, keeping the first of
// equal keys in front).
void ShuffleOrder(std::span<TSlideOrderEntry> entries, TKavRandom& random);
// The sort step of the shuffle alone, in n log n: the same order the
// selection sort gives, ties included.
void SortByShuffleKeys(std::span<TSlideOrderEntry> entries);
// The same with the process's own generator.
void ShuffleOrder(std::span<TSlideOrderEntry> entries);

// The section "Slide<n>" of the slide at `index` (0-based): n is the stored
// order's entry + 1 when the project has a ProjectFilePath, else index + 1.
// Nil for a negative index or a missing section.
TIniList* GetSlideSection(TIniFile* ini, int32_t index);
// The section number (n above) without looking the section up; 0 for a
// negative index.
int32_t SlideSectionNumber(TIniFile* ini, int32_t index);

// The stored order of a project path (a copy), empty when none is kept.
std::vector<TSlideOrderEntry> ProjectSlideOrder(const std::u16string& project_path);
// Forgets every stored order (for tests and show changes that reset them).
void ClearProjectSlideOrders();

}  // namespace kav
