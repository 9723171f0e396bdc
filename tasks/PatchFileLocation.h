#pragma once
// Which of a task's offered patch files this machine needs. The offer is three
// parallel ";"-separated lists of the task's `download` element (addresses,
// file names, MD5 texts; empty items do not count); the boot program named the
// wanted file by name ("patchFile") and/or by MD5 ("patchFileMD5"). Works on
// the given texts only. Warnings go to channel "OBXConsole", source
// "TaskManager".
#include <string>

namespace obx {

// The address of the wanted file, "" when the lists are unusable (address or
// MD5 list empty, lengths that disagree; each logged) or nothing matches.
// First by name (exact, case-sensitive; only when `patchFileTails` is not
// empty), which also replaces `patchFileMd5` by the entry's MD5; else by MD5
// (exact, case-sensitive). An empty name list is allowed: only the MD5 is
// searched then.
std::string GetPatchFileUrl(std::string patchFileTails, std::string& patchFileMd5,
                            const std::string& patchFileUrlList,
                            const std::string& patchFileNameList,
                            const std::string& patchFieMd5List);

// Replaces `sha256` by the SHA-256 the policy gives for the patch file at
// `patchFileUrl`: the entry of the ";"-separated `patchFileSha256List` at the
// position of that URL in `patchFileUrlList`; empty when the policy gives
// none. False (logged) when the two lists differ in length: no entry can then
// be told to belong to the URL, and the file must not pass on its MD5 alone.
bool PatchFileSha256(const std::string& patchFileUrl, const std::string& patchFileUrlList,
                     const std::string& patchFileSha256List, std::string& sha256);

}  // namespace obx
