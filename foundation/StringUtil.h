#pragma once
// Small text helpers shared by the policy, the task runner and the downloader.
#include <string>
#include <vector>

namespace obx {

// Cuts `text` at every occurrence of any character of `delimiters` and drops
// the empty pieces: SplitString(";a;;b;", ";") is {"a", "b"}. An empty
// delimiter set gives the whole text as one piece (none when it is empty).
std::vector<std::string> SplitString(const std::string& text, const std::string& delimiters);

// The part of `url` after its last "/", and of that the part after the last
// "\"; a text with neither is returned whole. "http://h/d/boot.exe" gives
// "boot.exe"; a text ending in a separator gives "".
std::string GetFileNameFromUrl(const std::string& url);

}  // namespace obx
