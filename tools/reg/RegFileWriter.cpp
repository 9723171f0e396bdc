#include "tools/reg/RegFileWriter.h"

#include <cstdio>
#include <vector>

#include "tools/reg/RegText.h"
#include "tools/reg/RegTreeWalker.h"

namespace orsareg {

namespace {

constexpr size_t kHexLineWidth = 76;  // continuation keeps lines within 80 columns

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// One text with exactly its terminating NUL and nothing a quoted form cannot carry.
bool IsPlainString(const std::vector<unsigned char>& data) {
  if (data.empty() || data.back() != 0) return false;
  for (size_t i = 0; i + 1 < data.size(); ++i)
    if (data[i] == 0 || data[i] == '\r' || data[i] == '\n') return false;
  return true;
}

std::string HexList(std::string line, const std::vector<unsigned char>& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char item[4];
    std::snprintf(item, sizeof item, "%02x", bytes[i]);
    line += item;
    if (i + 1 < bytes.size()) {
      line += ',';
      if (line.size() >= kHexLineWidth) {
        out += line + "\\\n";
        line = "  ";
      }
    }
  }
  return out + line;
}

}  // namespace

std::string RegFileWriter::Header() { return "Windows Registry Editor Version 5.00\n\n"; }

std::string RegFileWriter::ValueLine(const platform::RegValue& value) {
  std::string prefix = (value.name.empty() ? std::string("@") : Quote(value.name)) + "=";
  if (value.type == platform::kRegSz && IsPlainString(value.data))
    return prefix + Quote(std::string(value.data.begin(), value.data.end() - 1));
  if (value.type == platform::kRegDword && value.data.size() == 4) {
    uint32_t v = static_cast<uint32_t>(value.data[0]) | static_cast<uint32_t>(value.data[1]) << 8 |
                 static_cast<uint32_t>(value.data[2]) << 16 |
                 static_cast<uint32_t>(value.data[3]) << 24;
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08x", v);
    return prefix + text;
  }
  if (value.type == platform::kRegBinary) return HexList(prefix + "hex:", value.data);
  char tag[24];
  std::snprintf(tag, sizeof tag, "hex(%x):", value.type);
  bool text = value.type == 1 || value.type == 2 || value.type == 7;
  return HexList(prefix + tag, text ? NarrowToUtf16Le(value.data) : value.data);
}

long RegFileWriter::AppendTree(platform::RegRoot root, const std::string& subkey,
                               std::string* text) {
  auto write = [&](const RegKeyContents& key) {
    *text += "[" + std::string(platform::RegRootName(root)) + (key.path.empty() ? "" : "\\") +
             key.path + "]\n";
    for (const platform::RegValue& value : key.values) *text += ValueLine(value) + "\n";
    *text += "\n";
  };
  std::string failed;
  return RegTreeWalker::Walk(root, subkey, true, write, &failed);
}

std::string RegFileWriter::FileBytes(const std::string& text) {
  std::vector<unsigned char> lines;
  lines.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') lines.push_back('\r');
    lines.push_back(static_cast<unsigned char>(c));
  }
  const std::vector<unsigned char> wide = NarrowToUtf16Le(lines);
  return "\xFF\xFE" + std::string(wide.begin(), wide.end());
}

}  // namespace orsareg
