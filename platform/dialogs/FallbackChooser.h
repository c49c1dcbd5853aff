// The last resort when the desktop offers no chooser at all (never after
// one that failed, see TChooserChain): the file goes into the user's
// pictures folder under the proposed name, never over an existing file
// ("Slide1 (2).bmp", "Slide1 (3).bmp", ... instead), and the answer's
// message says where, to be told once the file is written. The chosen name
// is taken at once (created empty, exclusively) and the answer keeps the
// created file open, so the picture goes into that file and nothing that
// appears under the name meanwhile is written or overwritten.
#pragma once

#include <string>

#include "platform/dialogs/SaveChooser.h"

namespace kav::dialogs {

class TFallbackChooser final : public TSaveFileChooser {
 public:
  const char* Name() const override { return "pictures folder"; }
  bool Asks() const override { return false; }
  // Always kChosen, or kFailed when no free name could be created.
  TSaveFileAnswer Choose(const TSaveFileRequest& request) override;
};

// The pictures folder as xdg-user-dir PICTURES finds it: XDG_PICTURES_DIR in
// $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config) when that folder
// exists, else ~/Pictures when it exists, else the home folder ($HOME, else
// the password database's). Empty when there is no home at all.
std::string PicturesFolder();

// Creates `folder`/`name` exclusively, or the first free one of "base (2).ext",
// "base (3).ext", ... up to (9999); the path created, empty when none could
// be (errno tells why). `name` must be a plain name (SafeProposedName).
// With `fd` the created file stays open for writing there; else it is closed.
std::string CreateFreeFile(const std::string& folder, const std::string& name, int* fd = nullptr);

}  // namespace kav::dialogs
