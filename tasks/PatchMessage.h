#pragma once
// The message a patch task may show before its patch program starts: the
// `msgbox` element of the task's policy entry gives the style ("okcancel",
// "okonly", anything else for none) and the text in UTF-8, per language
// (`cn` when the system language is "zh", else `en`). The text is shown in the
// system code page under the caption "Tips" through the platform's prompt,
// which asks the logged-on user (platform/Prompt.h). Messages go to channel
// "OBXConsole" with source "TaskManager".
//
// Threads: the worker thread; the wait for the answer has no time limit but
// ends on the worker's quit request.
#include <string>

#include "foundation/PatchPolicyManager.h"
#include "records/TaskRecord.h"

namespace obx {

enum class PatchMessageOutcome {
  kNoMessage,  // no style, no text for the language, or a style without a box
  kOk,         // the box was answered OK (or nobody could be asked; logged)
  kCancelled,  // the user chose Cancel in an "okcancel" box
  kStopped,    // the quit request closed the box before an answer (logged)
  kNotShown,   // an "okcancel" box whose text cannot be shown: no one could
               // say no, so nothing may start (logged)
};

// Shows the message of task `id` if its policy asks for one and waits for the
// answer. A text that cannot be written in the system code page is logged as
// an error and not shown: an "okonly" message then counts as none, an
// "okcancel" one as not answered (kNotShown).
PatchMessageOutcome ShowPatchMessage(const PatchPolicyManager& policy, const std::string& id);
PatchMessageOutcome ShowPatchMessage(const PolicyEntry& policy);

}  // namespace obx
