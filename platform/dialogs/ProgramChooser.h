// Choosers that are programs of the desktop: zenity (GTK) and kdialog (KDE).
// Each is started with fork and exec, dying with the player even when the
// player is killed, its arguments as an argument vector (never a shell),
// its answer read from its output: exit 0 and a path is a chosen file,
// exit 1 a cancel. A program that is not installed, or no
// display to show it on, answers kUnavailable.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dialogs/SaveChooser.h"

namespace kav::dialogs {

enum class TChooserProgram { kZenity, kKDialog };

class TProgramChooser final : public TSaveFileChooser {
 public:
  // `program`: the program file; empty: its usual name found on PATH.
  TProgramChooser(TChooserProgram kind, std::string program);
  const char* Name() const override;
  TSaveFileAnswer Choose(const TSaveFileRequest& request) override;

  // The argument vector for a request (without the program itself).
  std::vector<std::string> Arguments(const TSaveFileRequest& request) const;

 private:
  TChooserProgram kind_;
  std::string program_;
};

std::unique_ptr<TSaveFileChooser> NewZenityChooser(const std::string& program = {});
std::unique_ptr<TSaveFileChooser> NewKDialogChooser(const std::string& program = {});

// The executable file `name` resolves to on PATH (a name with "/" as it is),
// as execvp would find it; empty when there is none.
std::string FindExecutable(const std::string& name);

// The parent window as a decimal X11 window id ("x11:1a00003" gives
// "27262979"); empty for anything else.
std::string X11WindowNumber(const std::string& parent_window);

}  // namespace kav::dialogs
