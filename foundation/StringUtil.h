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

// The number at the start of `text` as the C library's atoi reads it: leading
// white space, an optional sign, then decimal digits up to the first other
// character; no digits give 0. A number beyond the int range, where atoi
// itself is undefined, gives INT_MAX or INT_MIN.
int AtoI(const std::string& text);

}  // namespace obx
