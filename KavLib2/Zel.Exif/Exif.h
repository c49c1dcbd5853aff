// TExif: reads the EXIF block of a JPEG file (the first image directory and
// the EXIF sub-directory, in either byte order) and turns the tag values into
// display texts.
//
// The block is the first APP1 segment: the one right after the start of the
// file, the one after a standard 16-byte JFIF header, or else the first FF E1
// found in the 2000 bytes that follow. Everything the directories point to
// must lie inside that segment (and inside the file); an entry whose data
// lies outside is skipped, a directory that runs past the end is read up to
// the end. Only the bytes the reader touches are read from the stream.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/vxStream.h"

namespace kav {

class TExif {
 public:
  // Clears every value.
  TExif() = default;

  // Texts empty, numbers 0, flags false.
  void Clear() { *this = TExif(); }

  // Reads the EXIF block of the JPEG in `stream` (from its position 0) into
  // the values below, clearing them first. A stream that does not start
  // with FF D8 or has no APP1 segment in the searched range leaves every
  // value cleared and Found false; a damaged block gives the values read
  // before the damage. Errors of the stream itself pass out. The stream's
  // position is left where the reader stopped.
  void Decode(TStream* stream);

  // Texts from the directories: 8-bit text widened, cut at the first zero
  // byte, trailing blanks and controls removed.
  std::u16string ImageDescription;   // 0x010E
  std::u16string Make;               // 0x010F
  std::u16string Model;              // 0x0110
  std::u16string Copyright;          // 0x8298
  std::u16string DateTime;           // 0x0132
  std::u16string DateTimeOriginal;   // 0x9003
  std::u16string DateTimeDigitized;  // 0x9004
  std::u16string Software;           // 0x0131 (the creating program)
  std::u16string Artist;             // 0x013B
  // 0x9286, from either directory (the EXIF directory's wins); the 8-byte
  // character-code prefix of the standard form is removed.
  std::u16string UserComment;

  // Rationals as texts, in the forms of the functions below (a zero
  // denominator gives an empty text, units included).
  std::u16string ExposureTime;       // 0x829A, integer form + " seconds"
  std::u16string FocalLength;        // 0x920A, integer form + " mm"
  std::u16string FNumber;            // 0x829D, decimal form
  std::u16string ShutterSpeed;       // 0x9201, "1/<2^v> seconds"
  std::u16string Aperture;           // 0x9202, decimal form
  std::u16string MaxAperture;        // 0x9205, decimal form
  std::u16string CompressedBPP;      // 0x9102, decimal form

  // Codes (read by their type) and their texts.
  uint16_t OrientationCode = 0;      // 0x0112
  std::u16string Orientation;
  uint16_t ExposureProgramCode = 0;  // 0x8822
  std::u16string ExposureProgram;
  uint16_t MeteringModeCode = 0;     // 0x9207
  std::u16string MeteringMode;
  uint16_t LightSourceCode = 0;      // 0x9208
  std::u16string LightSource;
  uint16_t FlashCode = 0;            // 0x9209
  std::u16string Flash;

  uint32_t PixelWidth = 0;           // 0xA002
  uint32_t PixelHeight = 0;          // 0xA003
  uint32_t XResolution = 0;          // 0x011A, the rational's numerator
  uint32_t YResolution = 0;          // 0x011B
  uint16_t ISOSpeed = 0;             // 0x8827, the first value

  bool Found = false;                // an APP1 segment was found
  bool MotorolaOrder = false;        // the TIFF header says "MM"
  uint32_t ExifOffset = 0;           // 0x8769
};

// Display texts of the EXIF codes ("Unknown" for codes outside the tables).
std::u16string ExifOrientationText(uint32_t code);
std::u16string ExifExposureProgramText(uint32_t code);
std::u16string ExifMeteringModeText(uint32_t code);
std::u16string ExifLightSourceText(uint32_t code);
// "No Flash" for codes outside the table.
std::u16string ExifFlashText(uint32_t code);

// Value forms of rationals. Integer form: "0" for a denominator of exactly
// 1000000; "1/(d/n)" when n is not 0 and divides d; else "n/d". Decimal
// form: n/d with two decimals, one trailing "0" removed. Shutter speed: the
// APEX value v = n/d as "1/<2^v rounded> seconds", "1 seconds" for v of
// 65535 or more, empty above 16000. All three give an empty text for a zero
// denominator.
std::u16string ExifRationalInteger(uint32_t numerator, uint32_t denominator);
std::u16string ExifRationalDecimal(uint32_t numerator, uint32_t denominator);
std::u16string ExifShutterSpeedText(uint32_t numerator, uint32_t denominator);

}  // namespace kav
