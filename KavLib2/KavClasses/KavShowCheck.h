// Checks a show's project text as the player reads it and reports, through
// ReportShowProblem (VoRav/vxShowProblems.h), each thing the player could
// not use: a line that is neither a key, an object, an end nor a section (a
// header without its "]" among them), an object kind no reader knows, a key
// inside an object that no reader knows and that is one or two letters off
// a known one (keys the player ignores on purpose are left alone), an
// effect name that names no effect, an effect of [Main]'s list that is no
// transition kind and has no custom section, a value that cannot be read,
// a transition longer than its slide, a slide count beyond the slide
// sections (or sections beyond it), a slide without an end time or ending
// before the one above it, no [Times] or no opt_slidescount, a slide whose
// transition kind is missing from [Main]'s effect list or turns no variant
// on there, a slide object without a GUID, an image without its picture,
// music without its file or duration, a music StartTime past the end of its
// file, a section named twice, a GUID used twice, an object whose
// "end" is missing, and a file the show names that is missing, empty, a
// JPEG or PNG cut short, a sound that is a text (a download that failed)
// or (with SoundProblem) no sound the player plays, a name that leads to
// more than one file (NameProblem), or (with DecodePictures) a picture no
// decoder takes
// or whose data libjpeg finds damaged. Each report carries the line of the
// project text; each file's line is noted for the picture loader's reports
// (NoteShowFileLine). The player runs it when a show opens, kavpack before packing.
// At most 200 problems are said (then one line that there are more).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kav {

class TIniFile;
class TStream;
class TFileAccessor;

struct TShowCheckOptions {
  // Opens the files the show names (a packed show's entries would each be
  // inflated: the player checks only a project folder's, and its picture
  // loader says what it cannot load of a packed show).
  bool CheckFiles = true;
  // Reads every picture the show names through the player's decoders (a
  // packer can afford it; the player leaves it to the picture loader).
  bool DecodePictures = false;
  // The length in milliseconds of a sound file (-1 when it cannot be told),
  // given by the programs that link the music library, so that a music
  // StartTime past the end of its file is said; a piece's file is opened
  // for it only when the piece has a StartTime, with or without CheckFiles.
  int64_t (*SoundLength)(TStream* stream, const std::u16string& name) = nullptr;
  // Why the music player would not play a sound the show names, in its own
  // words (empty when it plays), given by the programs that link the music
  // library (SoundFileProblem), so that a file that is no sound is said
  // before the show plays; with CheckFiles. Without it only a text or an
  // empty file is said.
  std::u16string (*SoundProblem)(TStream* stream, const std::u16string& name) = nullptr;
  // Why a file name the show uses leads to no one file (empty when it
  // does), asked once for each name with CheckFiles: kavpack answers when
  // several files of its folder answer to the name.
  std::function<std::u16string(const std::u16string& name)> NameProblem;
};

void CheckShowProject(TIniFile* project, TFileAccessor* accessor, const TShowCheckOptions& options = {});

// The known key nearest `key` (any case, trailing digits left out) when it
// is one or two edits away and not the key itself; empty otherwise.
std::u16string NearKnownObjectKey(const std::u16string& key);

}  // namespace kav
