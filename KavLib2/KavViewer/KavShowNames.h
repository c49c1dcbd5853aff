// How a show's file names are read: one rule for a project folder and for a
// packed show, so that whatever plays from the folder plays from its package.
//
// A show names its files by their paths below its folder. A name is read
// with either separator, a run of separators as one and "." components left
// out: "Photos/sea.jpg", ".\Photos\sea.jpg" and "Photos\\sea.jpg" all name
// "Photos\sea.jpg", the form in which kavpack stores the file. The file, or
// the package's entry, is then found without regard to case or Unicode
// normal form (FileNameMatchKey). A ".." component is never followed: such
// a name would leave the show.
#pragma once

#include <string>
#include <string_view>

namespace kav {

// The name in that one form: its components joined by "\", leading
// separators (a full path) kept as they are, a drive too. False for a name
// with a ".." component, or with nothing left.
bool NormalShowName(std::u16string_view name, std::u16string& normal);
// The key under which a show's name and a packed entry's name match: the
// FileNameMatchKey of the normal form; empty when NormalShowName refuses it.
std::u16string ShowNameMatchKey(std::u16string_view name);

}  // namespace kav
