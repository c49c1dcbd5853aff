// The program's own file, as Linux names it.
#pragma once

#include <string>

namespace kav {

// The full path of the running program (/proc/self/exe) in the system's
// UTF-8; empty when it cannot be read. Read once and cached.
const std::string& ProgramPathSystem();

}  // namespace kav
