// Fuzz entry points. Each takes arbitrary bytes, must never crash, hang or
// leak, and aborts when a property it checks does not hold. The libFuzzer
// drivers in libfuzzer/ call them; the unit tests run them over the seed
// corpora (tests/data/ini, tests/fuzz/corpus/<kind>) and the kept crash
// inputs (tests/fuzz/regressions/<kind>).
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

// The bytes as a picture named ".png", through the loader registry and the
// PNG library; then again with every chunk's CRC made right (named ".bmp",
// which a PNG signature turns into ".png"), so mutations get past the
// checksums.
int FuzzPng(const uint8_t* data, size_t size);

// The bytes as a formula with the variables "t" and "value": compiled, and
// run when it compiles.
int FuzzCalculator(const uint8_t* data, size_t size);

// Wide-text inputs: after the bytes FF FE the UTF-16LE units that follow,
// else one character per byte.
// The text as an object's action.
int FuzzObjectAction(const uint8_t* data, size_t size);
// The bytes as a value for every value form (pairs, tuples, colours, font
// styles, booleans), the text as a "TextWithSize:" key, and numbers through
// the value formatter and back.
int FuzzValueParsers(const uint8_t* data, size_t size);
// The text up to its first NUL expanded as a text with macros; the path and
// date macros answer the text after the NUL.
int FuzzTextMacros(const uint8_t* data, size_t size);

// The bytes as "Project.kav": the effect manager over the document, every
// library effect and slide effect queried.
int FuzzEffManager(const uint8_t* data, size_t size);
// The bytes as "Project.kav": a show source over the document, every
// slide's timing, transition and end action queried, and the slide at a
// time inside each slide checked against the slide table.
int FuzzKavSource(const uint8_t* data, size_t size);

// The bytes through every text reader (UTF-16 both ways, UTF-8, ANSI code
// pages 1252 and 932), once in large reads and once a character at a time;
// aborts unless both give the same text (or both refuse the bytes).
int FuzzTextReader(const uint8_t* data, size_t size);
// The bytes as the registry's per-user store: read, written, read again;
// aborts unless the second writing equals the first.
int FuzzRegistryStore(const uint8_t* data, size_t size);

}  // namespace kav
