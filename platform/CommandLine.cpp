// The Windows splitting of a command line into words; the same on every
// system, since the command lines are Windows ones wherever the agent runs.
#include <string>
#include <vector>

#include "platform/Process.h"

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> words;
  const size_t n = commandLine.size();
  if (n == 0) return words;

  // The program: no escapes at all, so that "C:\dir\" paths read as written.
  size_t i = 0;
  std::string program;
  if (commandLine[0] == '"') {
    for (i = 1; i < n && commandLine[i] != '"'; ++i) program += commandLine[i];
    if (i < n) ++i;  // the closing quote
  } else {
    for (; i < n && !IsBlank(commandLine[i]); ++i) program += commandLine[i];
  }
  words.push_back(program);

  std::string word;
  bool inWord = false;
  int quotes = 0;  // 1 inside a quoted part; 2 just after one closed
  size_t backslashes = 0;
  while (i < n) {
    const char c = commandLine[i];
    if (IsBlank(c) && quotes == 0) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      backslashes = 0;
      ++i;
      continue;
    }
    inWord = true;
    ++i;
    if (c == '\\') {
      word += c;
      ++backslashes;
      continue;
    }
    if (c != '"') {
      word += c;
      backslashes = 0;
      continue;
    }
    if (backslashes % 2 == 0) {
      word.erase(word.size() - backslashes / 2);
      ++quotes;
    } else {
      word.erase(word.size() - backslashes / 2 - 1);
      word += '"';
    }
    backslashes = 0;
    // A quote that closes a quoted part and is followed by another quote
    // gives a literal quote and leaves the quoted part.
    for (; i < n && commandLine[i] == '"'; ++i) {
      if (++quotes == 3) {
        word += '"';
        quotes = 0;
      }
    }
    if (quotes == 2) quotes = 0;
  }
  if (inWord) words.push_back(word);
  return words;
}

}  // namespace platform
