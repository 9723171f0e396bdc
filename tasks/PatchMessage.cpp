#include "tasks/PatchMessage.h"

#include "foundation/Log.h"
#include "foundation/RootException.h"
#include "foundation/TextConversion.h"
#include "platform/Prompt.h"
#include "records/TaskRecord.h"
#include "sysinfo/OsInfo.h"

namespace obx {

PatchMessageOutcome ShowPatchMessage(const PatchPolicyManager& policy, const std::string& id) {
  return ShowPatchMessage(PolicyEntry(policy, id));
}

PatchMessageOutcome ShowPatchMessage(const PolicyEntry& entry) {
  const std::string& id = entry.Id();
  const char* lang = CurOsLang() == "zh" ? "cn" : "en";
  const std::string msgStyle = entry.MessageStyle();
  const std::string msgInfo = entry.MessageText(lang);
  if (msgStyle.empty() || msgInfo.empty()) return PatchMessageOutcome::kNoMessage;
  const bool okCancel = msgStyle == "okcancel";
  if (!okCancel && msgStyle != "okonly") return PatchMessageOutcome::kNoMessage;

  std::string strInfo;
  try {
    strInfo = Utf8ToAnsi(msgInfo);
  } catch (const CRootException&) {
    OBX_ERROR("OBXConsole", "TaskManager",
              "DoPatchFile:task " << id << " message text cannot be shown in the system code page"
                                  << (okCancel ? ", the patch waits for the next cycle" : ""));
    return okCancel ? PatchMessageOutcome::kNotShown : PatchMessageOutcome::kNoMessage;
  }

  const platform::PromptAnswer answer = platform::CurrentPrompt().Ask(
      strInfo, "Tips", okCancel ? platform::kMbOkCancel : platform::kMbOk);
  switch (answer.way) {
    case platform::PromptAnswer::kStopped:
      OBX_INFO("OBXConsole", "TaskManager",
               "DoPatchFile:task " << id << " message closed by the quit request");
      return PatchMessageOutcome::kStopped;
    case platform::PromptAnswer::kNoUser:
      OBX_INFO("OBXConsole", "TaskManager",
               "DoPatchFile:task " << id << " no user can be asked, the message counts as OK");
      return PatchMessageOutcome::kOk;
    case platform::PromptAnswer::kUserAnswered:
      break;
  }
  if (okCancel && answer.button == platform::kIdCancel) return PatchMessageOutcome::kCancelled;
  return PatchMessageOutcome::kOk;
}

}  // namespace obx
