#pragma once
// The folders the agent runs programs from (the install folder, the update
// folder) are the system's own: only the system account and Administrators
// may write in them (platform/FolderRights.h).
#include <string>

namespace obx {

// Creates `folder` when missing and sets its rights, once per folder and
// process: a later call for a folder already protected does nothing. A
// failure is logged (channel OBXConsole, naming the folder and the reason)
// and tried again at the next call; the caller goes on either way, as the
// agent did before it set rights. False then.
bool ProtectProgramFolder(const std::string& folder);

}  // namespace obx
