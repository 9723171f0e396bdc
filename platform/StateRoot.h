#pragma once
// Where all machine state lives and how the component's Windows-style paths
// map onto the file system.
#include <string>

namespace platform {

// ORSA_ROOT when set and not empty; else /var/lib/orsa for root, else
// $XDG_STATE_HOME/orsa (default ~/.local/state/orsa). Read at every call, so a
// test can switch roots with setenv. The folder is not created here.
std::string StateRoot();

// The Windows folder under the state root ("<root>/windows"); holds win.ini.
std::string WindowsDirectory();

// A Windows-style path as the file system sees it: "\" becomes "/", runs of
// separators fold to one, and a drive path "C:\x" maps to "<root>/drive_c/x".
std::string NativePath(const std::string& path);

// Creates the folder and all its parents (mode 0755); true when it exists after.
bool CreateDirectories(const std::string& nativePath);

// Writes `data` to a temporary file beside `nativePath`, flushes it to disk and
// renames it over the target, so a reader sees the old or the new file whole
// whatever happens to this process. False (target unchanged) on any failure.
bool ReplaceFileAtomically(const std::string& nativePath, const std::string& data);

}  // namespace platform
