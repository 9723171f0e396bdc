#pragma once
// Folders whose programs run with the agent's rights (the install folder, the
// update folder) must be writable by nobody else: otherwise a local user could
// drop a library beside a program that runs as the system (programs load
// libraries from their own folder first), or swap a file between its check
// and its start.
#include <string>

#include "platform/Export.h"

namespace platform {

// Creates the folder when missing (with its parents) and makes it the
// system's own, the path taken as every agent path (NativePath).
//
// Windows: a protected DACL, nothing inherited from the parent: SYSTEM and
// Administrators full control, Users read and execute, each handed down to
// every file and folder below (ProtectedFolderSddl); the owner becomes
// Administrators where the process may set it (the system account and an
// elevated administrator may), else it stays. Files inside that carry no ACEs
// of their own take the new ones.
// Linux: the folder belongs to the caller (a folder of another user is taken
// over where the caller may, that is as root) and loses the group's and
// others' write permission.
//
// A folder whose new rights would be handed down across the system is
// refused: on Windows a drive or share root, the Windows folder and below,
// Program Files, the shared data folder and the profile folder themselves;
// on Linux "/".
//
// False with the reason in *error when the folder is refused, cannot be made,
// or its rights cannot be set.
PLATFORM_EXPORT bool ProtectFolder(const std::string& path, std::string* error);

// The security descriptor ProtectFolder gives a folder on Windows, as SDDL
// (the DACL; the owner is set apart).
PLATFORM_EXPORT const char* ProtectedFolderSddl();

}  // namespace platform
