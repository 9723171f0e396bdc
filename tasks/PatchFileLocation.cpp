#include "tasks/PatchFileLocation.h"

#include <vector>

#include "foundation/Digest.h"
#include "foundation/Log.h"
#include "foundation/StringUtil.h"

namespace obx {

std::string GetPatchFileUrl(std::string patchFileTails, std::string& patchFileMd5,
                            const std::string& patchFileUrlList,
                            const std::string& patchFileNameList,
                            const std::string& patchFieMd5List) {
  std::string patchFileUrl;
  if (patchFileUrlList.empty() || patchFieMd5List.empty()) {
    OBX_WARNING("OBXConsole", "TaskManager", "DoPatchFile: file or md5 list is null");
    return patchFileUrl;
  }
  const std::vector<std::string> urlList = SplitString(patchFileUrlList, ";");
  const std::vector<std::string> filenameList = SplitString(patchFileNameList, ";");
  const std::vector<std::string> md5List = SplitString(patchFieMd5List, ";");
  if (md5List.size() != urlList.size()) {
    OBX_WARNING("OBXConsole", "TaskManager",
                "DoPatchFile: md5 and patch url list size do not matched");
    return patchFileUrl;
  }
  if (!filenameList.empty() && filenameList.size() != urlList.size()) {
    OBX_WARNING("OBXConsole", "TaskManager",
                "DoPatchFile: patch url and patch file list size do not matched");
    return patchFileUrl;
  }

  if (!patchFileTails.empty()) {
    OBX_WARNING("OBXConsole", "TaskManager", "found the file with tails by :" << patchFileTails);
    for (size_t i = 0; i < filenameList.size(); ++i) {
      if (filenameList[i] == patchFileTails) {
        patchFileUrl = urlList[i];
        patchFileMd5 = md5List[i];
        break;
      }
    }
  }
  if (patchFileUrl.empty() && !patchFileMd5.empty()) {
    OBX_WARNING("OBXConsole", "TaskManager",
                "No found the file,try to find with md5:" << patchFileMd5);
    for (size_t i = 0; i < md5List.size(); ++i) {
      if (SameMd5(md5List[i], patchFileMd5)) {
        patchFileUrl = urlList[i];
        break;
      }
    }
  }
  return patchFileUrl;
}

bool PatchFileSha256(const std::string& patchFileUrl, const std::string& patchFileUrlList,
                     const std::string& patchFileSha256List, std::string& sha256) {
  sha256.clear();
  if (patchFileSha256List.empty()) return true;
  const std::vector<std::string> urlList = SplitString(patchFileUrlList, ";");
  const std::vector<std::string> shaList = SplitString(patchFileSha256List, ";");
  if (shaList.size() != urlList.size()) {
    OBX_WARNING("OBXConsole", "TaskManager",
                "DoPatchFile: sha256 and patch url list size do not matched");
    return false;
  }
  for (size_t i = 0; i < urlList.size(); ++i) {
    if (urlList[i] == patchFileUrl) {
      sha256 = shaList[i];
      break;
    }
  }
  return true;
}

}  // namespace obx
