// Fuzz entry points. Each takes arbitrary bytes, must never crash, hang or
// leak, and aborts when a property it checks does not hold. The libFuzzer
// drivers in libfuzzer/ call them; the unit tests run them over the seed
// corpora under tests/data/.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav {

// Loads the bytes as an INI document (as a text stream: byte-order marks,
// ANSI text), saves it, loads the saved text again and aborts unless saving
// that gives the same text: parse -> save -> parse is stable.
int FuzzIniParser(const uint8_t* data, size_t size);

// The bytes as a whole package file: trailer, directory and integrity rules,
// then every entry the directory names, opened and read to its end.
int FuzzContainerDirectory(const uint8_t* data, size_t size);
// The bytes as raw deflate, zlib-wrapped deflate and whole-block input.
int FuzzInflate(const uint8_t* data, size_t size);

}  // namespace kav
