// Fuzz entry points: each takes arbitrary bytes, runs one parser over them
// and answers 0. Any failure must be a clean exception, caught inside; a
// crash, hang, leak or sanitizer report is a bug. libFuzzer drivers and the
// corpus regression test call these same functions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav {

// The bytes as a whole package file: trailer, directory and integrity rules,
// then every entry the directory names, opened and read to its end.
int FuzzContainerDirectory(const uint8_t* data, size_t size);
// The bytes as raw deflate, zlib-wrapped deflate and whole-block input.
int FuzzInflate(const uint8_t* data, size_t size);

}  // namespace kav
