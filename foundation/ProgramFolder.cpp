#include "foundation/ProgramFolder.h"

#include <mutex>
#include <set>

#include "foundation/Log.h"
#include "platform/FolderRights.h"
#include "platform/StateRoot.h"

namespace obx {

bool ProtectProgramFolder(const std::string& folder) {
  static std::mutex mutex;
  static std::set<std::string> done;
  const std::string native = platform::NativePath(folder);
  std::lock_guard<std::mutex> lock(mutex);
  if (done.count(native) != 0) return true;
  std::string error;
  if (!platform::ProtectFolder(native, &error)) {
    OBX_WARNING("OBXConsole", "ProgramFolder",
                "cannot make folder " << folder << " the system's own: " << error);
    return false;
  }
  done.insert(native);
  return true;
}

}  // namespace obx
