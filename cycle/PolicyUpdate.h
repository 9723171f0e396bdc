#pragma once
// The cycle's policy and task-list update: asks the management server for a
// newer policy, stores it sealed as PatchPolicy.xml in the module folder, and
// brings TaskList.xml in line with it (entries gone from the policy are
// removed, new ones that apply to this machine get their initial state,
// entries in both keep their state).
//
// Threads: the worker thread of the patch cycle only; no lock is taken.
// Logging: channel "OBXConsole", source "OBXConsole".
// Exceptions: a failed seal of the answer is logged and swallowed; everything
// else (the server client, the host's services) leaves the step and ends the
// cycle.
#include <functional>
#include <string>

namespace obx {

// Asks the server for the policy: computer code, user name, stored version,
// OS version, out policy text (plain XML; left empty when there is none).
// The result tells only whether the call worked; the step looks at the text.
using PolicyFetcher = std::function<bool(const std::string& computerCode,
                                         const std::string& userName, const std::string& version,
                                         const std::string& osVersion, std::string& policy)>;

// The default fetcher: one short-lived OBXWebService and its UpdatePatchPolicy.
bool FetchPolicyFromServer(const std::string& computerCode, const std::string& userName,
                           const std::string& version, const std::string& osVersion,
                           std::string& policy);

// The whole step, as the cycle runs it, and the same with another fetcher
// (UpdatePolicy alone is not overloaded, so it converts to a plain function).
void UpdatePolicy();
void UpdatePolicyWith(const PolicyFetcher& fetch);

// Fetches the policy for `version` (with this machine's computer code, the
// host's user name and the current OS name) and, when an answer came, replaces
// the policy file by its sealed form. An answer that cannot be sealed is
// logged ("Encrpt policy file failed") and dropped; a missing module folder is
// created, and one that cannot be is logged with the folder and the reason; a
// file that cannot be written is logged ("Write Policy Failed") and keeps its
// old content. False only when the answer was refused, unstored, for nesting or
// sizes beyond the bounds of text/XmlLimits.h (logged as a warning).
bool UpdatePolicyFile(const std::string& version, const PolicyFetcher& fetch);

// Whether a policy entry with these `check_os` `valid` and `validversion`
// texts applies to this machine, by the lower-case OS facts of the current
// cycle (CurOsVer, CurOsVerNum, CurOsLang).
bool CheckOsVersion(const std::string& valid, const std::string& validVersion);

// This machine's token in a `validversion` list, such as "xp-sp3-zh",
// "xp2003-sp2-zh" or "xp7-sp0-en".
std::string OsVersionToken();

}  // namespace obx
