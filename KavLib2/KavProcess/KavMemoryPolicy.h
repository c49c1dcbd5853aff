// How the player's heap behaves over a long run.
//
// Two glibc malloc defaults let a looping show's resident size creep up in
// steps (about 30 MB an hour with the demo) while the memory in use stays
// flat:
// - Every thread that allocates may get an arena of its own, up to eight
//   per core; a video clip's decoder threads start and stop on every loop
//   and leave their blocks in whichever arenas they were given, each
//   fragmenting on its own (28 arenas after a few loops of the demo).
// - Blocks past a threshold (128 KiB at first) are mapped for themselves,
//   but the threshold rises to the size of every mapped block freed, up to
//   32 MiB: after the first full-screen buffer or decoded picture is freed,
//   blocks of that size come from the heaps, where buffers of slightly
//   different sizes and lifetimes leave holes later ones do not fit.
// The policy caps the arenas and fixes the threshold, so every large block
// is mapped for itself and given back when freed. Large blocks are made per
// slide, not per frame, so the extra mappings cost little.
// Blocks below the threshold still leave free pages among the blocks in
// use, which stay resident: with the OpenGL device (whose driver makes and
// frees many such blocks per slide) about 10 MB more an hour. The player
// gives them back once a slide (TrimHeap).
#pragma once

#include <cstddef>

namespace kav {

// Blocks of this size and up are mapped for themselves.
constexpr size_t kLargeBlockBytes = size_t(1) << 20;
// At most this many malloc arenas.
constexpr int kHeapArenas = 2;

// Sets both; false when the allocator does not take them (another malloc,
// such as a sanitizer's). Call once at start-up, before other threads.
bool SetLongRunHeapPolicy();

// Gives the heaps' whole free pages back to the system (glibc's
// malloc_trim); false when the allocator did not give any back, or is
// another one. Any thread; costs a walk over the free blocks.
bool TrimHeap();

}  // namespace kav
