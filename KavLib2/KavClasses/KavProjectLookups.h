// Small lookups in the project text used by the image and video objects.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "VoRav/vxIni.h"

namespace kav {

// The first child object named "Root"; a new child "Root" of class
// "Container" when there is none.
TIniObject* FindRootContainer(TIniList* object);
// The first child object of class "VideoClip" whose "ClipGUID" equals `guid`
// (any case); nil when none.
TIniObject* FindVideoClipByGUID(TIniList* object, std::u16string_view guid);
// When the clip first plays: the start (0 for the first slide, else [Times]
// opt_synchpos of the slide before) of the first slide 1 .. opt_slidescount
// whose object tree (depth first, "KeyPoint" objects skipped) holds an
// object of class "Video" with that "ClipGUID" (any "Video" for an empty
// GUID). -1 without [Main] or [Times], or when no slide has it.
double FindVideoClipStartTime(TIniFile* ini, std::u16string_view guid);

// name + ":" + index, and the text after the first ":" (empty without one).
std::u16string MakeIndexedName(std::u16string_view name, int32_t index);
std::u16string SplitIndexedName(std::u16string_view text);

}  // namespace kav
