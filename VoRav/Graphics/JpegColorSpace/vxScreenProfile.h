// The display's colour profile and profile files.
//
// The display profile is sRGB (the default profile) unless the display
// reports one: the window layer hands the bytes it gets from the display
// (SDL_GetWindowICCProfile) to SetScreenProfileBytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"
#include "VoRav/vxStream.h"

namespace kav {

// Largest profile read from a stream or file.
constexpr int64_t kMaxColorProfileBytes = int64_t(32) << 20;

// Stores the profile the display reports; empty bytes: it reports none.
// Bytes that identify sRGB give the default profile. Any thread.
void SetScreenProfileBytes(std::span<const uint8_t> bytes);
// The profile the display reported (named "Display"), or null: the caller
// then keeps the default profile. A new reference.
Ref<TColorProfile> ReadScreenProfile();

// Reads the stream from its position to its end. False, with no bytes, when
// it holds more than kMaxColorProfileBytes or a read fails.
bool ReadProfileStream(TStream* stream, std::vector<uint8_t>& bytes);
// The whole file, opened through the stream module's ReadFile hook. False,
// with no bytes, when it cannot be opened or read, or is too large.
bool ReadProfileFile(const std::u16string& path, std::vector<uint8_t>& bytes);

}  // namespace kav
