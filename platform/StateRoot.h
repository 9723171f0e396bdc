#pragma once
// Where all machine state lives and how the component's Windows-style paths
// map onto the file system.
#include <string>

#include "platform/Export.h"

namespace platform {

// ORSA_ROOT when set and not empty; else on Windows "orsa" in the folder of
// data shared by all users (CSIDL_COMMON_APPDATA); on Linux /var/lib/orsa for
// root, else $XDG_STATE_HOME/orsa (default ~/.local/state/orsa). Read at every
// call, so a test can switch roots in its environment. The folder is not
// created here.
PLATFORM_EXPORT std::string StateRoot();

// Makes the state root explicit for this process and the programs it starts,
// so that they all work on one root whatever their current folder: ORSA_ROOT
// becomes the absolute path of StateRoot(). On Windows only a root already
// named in ORSA_ROOT is made absolute: the default root needs no name there,
// and naming it would give the process a registry of its own (Registry.h)
// instead of the machine's.
PLATFORM_EXPORT void PinStateRoot();

// The folder that holds win.ini: the Windows folder under the state root
// ("<root>/windows"); on Windows, without ORSA_ROOT, the system's own
// (GetWindowsDirectoryA).
PLATFORM_EXPORT std::string WindowsDirectory();

// A Windows-style path as the file system sees it. Linux: "\" becomes "/",
// runs of separators fold to one, and a drive path "C:\x" maps to
// "<root>/drive_c/x". Windows: "/" becomes "\" and runs fold to one, except
// the leading pair of "\\server\share" and "\\.\device".
PLATFORM_EXPORT std::string NativePath(const std::string& path);

}  // namespace platform
