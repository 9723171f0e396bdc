#include "tools/reg/RegFileParser.h"

#include <cctype>

#include "tools/reg/RegText.h"

namespace orsareg {

namespace {

const char kHeaderV5[] = "Windows Registry Editor Version 5.00";
const char kHeaderV4[] = "REGEDIT4";

std::string TrimLeft(const std::string& s) {
  size_t start = s.find_first_not_of(" \t");
  return start == std::string::npos ? std::string() : s.substr(start);
}

std::string TrimRight(const std::string& s) {
  size_t end = s.find_last_not_of(" \t\r");
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

std::string Trim(const std::string& s) { return TrimLeft(TrimRight(s)); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string starting at `pos` (on the opening quote); on success
// `pos` is just past the closing quote.
bool ReadQuoted(const std::string& text, size_t* pos, std::string* out) {
  if (*pos >= text.size() || text[*pos] != '"') return false;
  out->clear();
  for (size_t i = *pos + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) return false;
      c = text[++i];
    }
    *out += c;
  }
  return false;
}

// "01,ab, 7f" (an empty list is allowed, a trailing comma too).
bool ReadHexBytes(const std::string& text, std::vector<unsigned char>* bytes) {
  bytes->clear();
  std::string list = Trim(text);
  if (list.empty()) return true;
  size_t pos = 0;
  while (pos < list.size()) {
    size_t comma = list.find(',', pos);
    std::string item =
        Trim(list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
    if (item.empty()) {
      if (comma == std::string::npos) break;  // after a trailing comma
      return false;
    }
    if (item.size() > 2) return false;
    int value = 0;
    for (char c : item) {
      int digit = HexDigit(c);
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    bytes->push_back(static_cast<unsigned char>(value));
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return true;
}

std::string DecodeFile(const std::string& content) {
  if (content.size() >= 2 && static_cast<unsigned char>(content[0]) == 0xFF &&
      static_cast<unsigned char>(content[1]) == 0xFE) {
    std::vector<unsigned char> wide(content.begin() + 2, content.end());
    if (wide.size() % 2) wide.pop_back();
    std::vector<unsigned char> narrow;
    Utf16LeToNarrow(wide, &narrow);
    return std::string(narrow.begin(), narrow.end());
  }
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) return content.substr(3);
  return content;
}

}  // namespace

bool RegFileParser::Fail(int line, const std::string& message) {
  errorLine_ = line;
  errorMessage_ = message;
  changes_.clear();
  return false;
}

bool RegFileParser::Parse(const std::string& content) {
  changes_.clear();
  errorLine_ = 0;
  errorMessage_.clear();
  haveKey_ = false;
  keyDeleted_ = false;

  std::vector<std::string> lines;
  std::string text = DecodeFile(content);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(TrimRight(text.substr(start, end - start)));
    start = end + 1;
  }

  bool headerSeen = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    int lineNumber = static_cast<int>(i) + 1;
    std::string line = TrimLeft(lines[i]);
    if (!headerSeen) {
      if (line.empty()) continue;
      if (line == kHeaderV5) {
        wideStrings_ = true;
      } else if (line == kHeaderV4) {
        wideStrings_ = false;
      } else {
        return Fail(lineNumber, std::string("expected \"") + kHeaderV5 + "\"");
      }
      headerSeen = true;
      continue;
    }
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (!ParseKeyLine(lineNumber, line)) return false;
      continue;
    }
    // Hex data may run over several lines, each but the last ending in "\".
    while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos &&
           i + 1 < lines.size()) {
      line.pop_back();
      line += Trim(lines[++i]);
    }
    if (!ParseValueLine(lineNumber, line)) return false;
  }
  if (!headerSeen) return Fail(1, std::string("expected \"") + kHeaderV5 + "\"");
  return true;
}

bool RegFileParser::ParseKeyLine(int line, const std::string& text) {
  if (text.back() != ']') return Fail(line, "key line without closing \"]\"");
  std::string path = text.substr(1, text.size() - 2);
  bool remove = !path.empty() && path[0] == '-';
  if (remove) path.erase(0, 1);
  platform::RegRoot root;
  std::string subkey;
  if (path.empty() || !SplitKeyArgument(path, &root, &subkey))
    return Fail(line, "unknown root key in \"" + path + "\"");
  // Emptying a whole hive is never what a settings file means.
  if (remove && subkey.find_first_not_of('\\') == std::string::npos)
    return Fail(line, "refusing to delete the root key \"" + path + "\"");
  // Deleting an over-deep key an older registry holds stays possible.
  size_t depth = platform::RegKeyDepth(subkey);
  if (!remove && depth > platform::kMaxKeyDepth)
    return Fail(line, "key is " + std::to_string(depth) + " levels deep, more than the " +
                          std::to_string(platform::kMaxKeyDepth) + " allowed");
  platform::RegChange change;
  change.kind = remove ? platform::RegChange::kDeleteTree : platform::RegChange::kCreateKey;
  change.root = root;
  change.subkey = subkey;
  changes_.push_back(change);
  haveKey_ = true;
  keyDeleted_ = remove;
  root_ = root;
  subkey_ = subkey;
  return true;
}

bool RegFileParser::ParseValueLine(int line, const std::string& text) {
  std::string name;
  size_t pos = 0;
  if (text[0] == '@') {
    pos = 1;
  } else if (text[0] == '"') {
    if (!ReadQuoted(text, &pos, &name)) return Fail(line, "malformed value name");
  } else {
    return Fail(line, "unrecognised line \"" + text + "\"");
  }
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  if (pos >= text.size() || text[pos] != '=') return Fail(line, "missing \"=\" after value name");
  if (!haveKey_) return Fail(line, "value before any key line");
  if (keyDeleted_) return Fail(line, "value under a key that is being deleted");
  platform::RegChange change;
  change.root = root_;
  change.subkey = subkey_;
  change.name = name;
  if (!ParseData(line, Trim(text.substr(pos + 1)), &change)) return false;
  changes_.push_back(change);
  return true;
}

bool RegFileParser::ParseData(int line, const std::string& data, platform::RegChange* change) {
  const std::string shownName = change->name.empty() ? "@" : "\"" + change->name + "\"";
  if (data == "-") {
    change->kind = platform::RegChange::kDeleteValue;
    return true;
  }
  change->kind = platform::RegChange::kSetValue;
  if (!data.empty() && data[0] == '"') {
    size_t pos = 0;
    std::string value;
    if (!ReadQuoted(data, &pos, &value) || pos != data.size())
      return Fail(line, "malformed string data of " + shownName);
    change->type = platform::kRegSz;
    change->data.assign(value.begin(), value.end());
    change->data.push_back(0);
    return true;
  }
  if (data.compare(0, 6, "dword:") == 0) {
    std::string digits = Trim(data.substr(6));
    uint32_t value = 0;
    if (digits.empty() || digits.size() > 8 || !ParseDwordText("0x" + digits, &value))
      return Fail(line, "malformed dword data of " + shownName);
    change->type = platform::kRegDword;
    change->data = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                    static_cast<unsigned char>(value >> 16),
                    static_cast<unsigned char>(value >> 24)};
    return true;
  }
  if (data.compare(0, 3, "hex") == 0) {
    size_t colon = data.find(':');
    if (colon == std::string::npos) return Fail(line, "malformed hex data of " + shownName);
    std::string tag = data.substr(3, colon - 3);
    uint32_t type = platform::kRegBinary;
    if (!tag.empty()) {
      uint32_t parsed = 0;
      if (tag.size() < 3 || tag.front() != '(' || tag.back() != ')' ||
          !ParseDwordText("0x" + tag.substr(1, tag.size() - 2), &parsed))
        return Fail(line, "malformed hex type of " + shownName);
      type = parsed;
    }
    std::vector<unsigned char> bytes;
    if (!ReadHexBytes(data.substr(colon + 1), &bytes))
      return Fail(line, "malformed hex data of " + shownName);
    // REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ in hex form are UTF-16LE text.
    if (wideStrings_ && (type == 1 || type == 2 || type == 7)) {
      std::vector<unsigned char> narrow;
      if (!Utf16LeToNarrow(bytes, &narrow))
        return Fail(line, "odd number of bytes in the text data of " + shownName);
      bytes.swap(narrow);
    }
    change->type = type;
    change->data = bytes;
    return true;
  }
  return Fail(line, "unrecognised data of " + shownName);
}

}  // namespace orsareg
