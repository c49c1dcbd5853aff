// What the player tells a user on the terminal: the usage text of
// "--help" / "-h", and where the log file goes.
#pragma once

#include <string>

namespace kav {

class TCommandsStorage;

// True when the command line asks for the usage text ("--help" or "-h").
bool WantsUsage(const TCommandsStorage* commands);
// The usage text; `program` is the name the user typed the player by.
std::string PlayerUsage(const std::string& program);

// The log file of "-filelog": the program's path with the extension ".log"
// (`ProgramLogPath`), or, when that cannot be written (an installed player),
// "kavplay.log" in the user's state folder (`UserLogPath`:
// $XDG_STATE_HOME/kavplayer, else ~/.local/state/kavplayer; empty when
// neither is known).
std::u16string ProgramLogPath();
std::u16string UserLogPath();

}  // namespace kav
