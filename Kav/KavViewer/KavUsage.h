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

// Which 3D device draws: the graphics card through OpenGL, the software
// device, or (Auto) OpenGL where a 3.3 context can be made on a graphics
// card (not a renderer on the CPU) and the software device otherwise. "--device=gl" / "--device=sw" (also "--device gl")
// force one; else the environment variable KAV_DEVICE ("gl" or "sw",
// `env`). A value that is neither is reported in `problem` and counts as
// Auto.
enum class TDeviceChoice { Auto, Gl, Sw };
TDeviceChoice ChooseDevice(const TCommandsStorage* commands, const char* env, std::string* problem);

// The log file of "-filelog": "kavplay.log" in the user's state folder
// ($XDG_STATE_HOME/kavplayer, else ~/.local/state/kavplayer; empty when neither
// is known).
std::u16string UserLogPath();

}  // namespace kav
