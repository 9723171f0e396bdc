#pragma once
// Where all machine state lives and how the component's Windows-style paths
// map onto the file system.
#include <string>

#include "platform/Export.h"

namespace platform {

// ORSA_ROOT when set and not empty; else /var/lib/orsa for root, else
// $XDG_STATE_HOME/orsa (default ~/.local/state/orsa). Read at every call, so a
// test can switch roots with setenv. The folder is not created here.
PLATFORM_EXPORT std::string StateRoot();

// The Windows folder under the state root ("<root>/windows"); holds win.ini.
PLATFORM_EXPORT std::string WindowsDirectory();

// A Windows-style path as the file system sees it: "\" becomes "/", runs of
// separators fold to one, and a drive path "C:\x" maps to "<root>/drive_c/x".
PLATFORM_EXPORT std::string NativePath(const std::string& path);

}  // namespace platform
