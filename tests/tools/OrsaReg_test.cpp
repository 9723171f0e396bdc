#include <gtest/gtest.h>
#include <strings.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempStateRoot.h"
#include "tools/reg/RegCommand.h"
#include "tools/reg/RegFileParser.h"
#include "tools/reg/RegFileWriter.h"
#include "tools/reg/RegText.h"

namespace {

using platform::RegChange;
using platform::RegRoot;
using platform::RegValue;

const char kHeader[] = "Windows Registry Editor Version 5.00\n\n";

std::vector<unsigned char> Bytes(const std::string& s) {
  return std::vector<unsigned char>(s.begin(), s.end());
}

using Outcome = obxtest::ChildOutcome;

// The command classes in this process.
Outcome RunInProcess(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  orsareg::RegCommand command;
  Outcome outcome;
  outcome.exitCode = command.Run(args, out, err);
  outcome.out = out.str();
  outcome.err = err.str();
  return outcome;
}

// The orsa-reg executable in a child process.
Outcome RunTool(const obxtest::TempStateRoot& root, const std::vector<std::string>& args) {
  return obxtest::RunChild(root, obxtest::BinDir() + "/orsa-reg", args);
}

bool ReadValue(RegRoot root, const std::string& subkey, const std::string& name, uint32_t* type,
               std::vector<unsigned char>* data) {
  platform::RegKey key = nullptr;
  if (platform::OpenRegKey(root, subkey, platform::kKeyRead, &key) != platform::kErrorSuccess)
    return false;
  std::vector<RegValue> values;
  platform::RegEnumValues(key, &values);
  platform::CloseRegKey(key);
  for (const RegValue& v : values) {
    if (strcasecmp(v.name.c_str(), name.c_str()) == 0) {
      *type = v.type;
      *data = v.data;
      return true;
    }
  }
  return false;
}

bool KeyExists(RegRoot root, const std::string& subkey) {
  platform::RegKey key = nullptr;
  if (platform::OpenRegKey(root, subkey, platform::kKeyRead, &key) != platform::kErrorSuccess)
    return false;
  platform::CloseRegKey(key);
  return true;
}

// The text of an exported file: UTF-16LE after its byte-order mark, CR LF
// line ends, read back as "\n" lines of UTF-8; "<not UTF-16>" otherwise.
std::string ExportedText(const std::string& path) {
  const std::string bytes = obxtest::ReadFile(path);
  std::vector<unsigned char> narrow;
  if (bytes.compare(0, 2, "\xFF\xFE") != 0 ||
      !orsareg::Utf16LeToNarrow(Bytes(bytes.substr(2)), &narrow))
    return "<not UTF-16>";
  std::string text;
  for (size_t i = 0; i < narrow.size(); ++i) {
    if (narrow[i] == '\n' && (i == 0 || narrow[i - 1] != '\r')) return "<bare LF>";
    if (narrow[i] != '\r') text += static_cast<char>(narrow[i]);
  }
  return text;
}

bool IsOneErrorLine(const std::string& err) {
  return err.rfind("orsa-reg: ", 0) == 0 && err.find('\n') == err.size() - 1;
}

// ---------------------------------------------------------------------------
// The .reg reader

TEST(RegFileParser, ReadsEveryKindOfEntry) {
  std::string text = std::string(kHeader) +
                     "; settings of the agent\r\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvor\\QUOR5.0\\ServiceUrl\\OBX]\r\n"
                     "\"server\"=\"127.0.0.1\"\r\n"
                     "\"port\"=dword:00001ba8\r\n"
                     "@=\"say \\\"hi\\\" C:\\\\x\"\r\n"
                     "\"path\"=hex(2):25,00,54,00,\\\r\n"
                     "  45,00,4d,00,50,00,25,00,00,00\r\n"
                     "\"blob\"=hex:00,ff,10\r\n"
                     "\"empty\"=hex:\r\n"
                     "\"old\"=-\r\n"
                     "\r\n"
                     "[-HKCU\\Software\\Gone]\r\n";
  orsareg::RegFileParser parser;
  ASSERT_TRUE(parser.Parse(text)) << parser.errorLine() << ": " << parser.errorMessage();
  const std::vector<RegChange>& c = parser.changes();
  ASSERT_EQ(9u, c.size());
  EXPECT_EQ(RegChange::kCreateKey, c[0].kind);
  EXPECT_EQ("SOFTWARE\\Kelvor\\QUOR5.0\\ServiceUrl\\OBX", c[0].subkey);
  EXPECT_EQ(RegRoot::kLocalMachine, c[0].root);

  struct Expect {
    RegChange::Kind kind;
    const char* name;
    uint32_t type;
    std::vector<unsigned char> data;
  } values[] = {
      {RegChange::kSetValue, "server", platform::kRegSz, Bytes(std::string("127.0.0.1\0", 10))},
      {RegChange::kSetValue, "port", platform::kRegDword, {0xa8, 0x1b, 0, 0}},
      {RegChange::kSetValue, "", platform::kRegSz, Bytes(std::string("say \"hi\" C:\\x\0", 14))},
      {RegChange::kSetValue, "path", platform::kRegExpandSz, Bytes(std::string("%TEMP%\0", 7))},
      {RegChange::kSetValue, "blob", platform::kRegBinary, {0, 0xff, 0x10}},
      {RegChange::kSetValue, "empty", platform::kRegBinary, {}},
      {RegChange::kDeleteValue, "old", platform::kRegNone, {}},
  };
  for (size_t i = 0; i < 7; ++i) {
    const RegChange& got = c[i + 1];
    EXPECT_EQ(values[i].kind, got.kind) << i;
    EXPECT_EQ(values[i].name, got.name) << i;
    EXPECT_EQ("SOFTWARE\\Kelvor\\QUOR5.0\\ServiceUrl\\OBX", got.subkey) << i;
    if (got.kind == RegChange::kSetValue) {
      EXPECT_EQ(values[i].type, got.type) << i;
      EXPECT_EQ(values[i].data, got.data) << i;
    }
  }
  EXPECT_EQ(RegChange::kDeleteTree, c[8].kind);
  EXPECT_EQ(RegRoot::kCurrentUser, c[8].root);
  EXPECT_EQ("Software\\Gone", c[8].subkey);
}

TEST(RegFileParser, TextTypesAreWideInVersion5AndNarrowInRegedit4) {
  orsareg::RegFileParser parser;
  ASSERT_TRUE(parser.Parse(std::string(kHeader) + "[HKLM\\K]\n\"v\"=hex(2):e4,00,00,00\n"));
  EXPECT_EQ(Bytes("\xC3\xA4"), std::vector<unsigned char>(parser.changes()[1].data.begin(),
                                                          parser.changes()[1].data.end() - 1));
  ASSERT_TRUE(parser.Parse("REGEDIT4\n\n[HKLM\\K]\n\"v\"=hex(2):41,42,00\n"));
  EXPECT_EQ(Bytes(std::string("AB\0", 3)), parser.changes()[1].data);
}

TEST(RegFileParser, ReadsAUtf16FileWithItsBom) {
  std::string narrow = std::string(kHeader) + "[HKLM\\K]\r\n\"v\"=\"x\"\r\n";
  std::string wide = "\xFF\xFE";
  for (char ch : narrow) {
    wide += ch;
    wide += '\0';
  }
  orsareg::RegFileParser parser;
  ASSERT_TRUE(parser.Parse(wide)) << parser.errorMessage();
  ASSERT_EQ(2u, parser.changes().size());
  EXPECT_EQ(Bytes(std::string("x\0", 2)), parser.changes()[1].data);
}

TEST(RegFileParser, MalformedLineIsReportedWithItsNumber) {
  struct Case {
    std::string text;
    int line;
  } cases[] = {
      {"REGEDIT5\n[HKLM\\K]\n", 1},
      {"\n\nnot a header\n", 3},
      {"", 1},
      {std::string(kHeader) + "[HKLM\\K\n", 3},
      {std::string(kHeader) + "[HKCR\\K]\n", 3},
      {std::string(kHeader) + "[-HKLM]\n", 3},
      {std::string(kHeader) + "\"v\"=\"before any key\"\n", 3},
      {std::string(kHeader) + "[HKLM\\K]\n\"v\"=\"unterminated\n", 4},
      {std::string(kHeader) + "[HKLM\\K]\n\"v\"=\"x\" trailing\n", 4},
      {std::string(kHeader) + "[HKLM\\K]\n\"v\"=\"bad \\q escape\"\n", 4},
      {std::string(kHeader) + "[HKLM\\K]\n\"v\"=dword:xyz\n", 4},
      {std::string(kHeader) + "[HKLM\\K]\n\"v\"=dword:123456789\n", 4},
      {std::string(kHeader) + "[HKLM\\K]\n\"v\"=hex:01,2g\n", 4},
      {std::string(kHeader) + "[HKLM\\K]\n\"v\"=hex:01,,02\n", 4},
      {std::string(kHeader) + "[HKLM\\K]\n\"v\"=hex:123\n", 4},
      {std::string(kHeader) + "[HKLM\\K]\n\"v\"=hex(2):41,00,42\n", 4},
      {std::string(kHeader) + "[HKLM\\K]\n\"v\"=hex(zz):00\n", 4},
      {std::string(kHeader) + "[HKLM\\K]\n\"v\"=text\n", 4},
      {std::string(kHeader) + "[HKLM\\K]\n\"v\"\n", 4},
      {std::string(kHeader) + "[HKLM\\K]\njunk\n", 4},
      {std::string(kHeader) + "[-HKLM\\K]\n\"v\"=\"x\"\n", 4},
      {std::string(kHeader) + "[HKLM\\K]\n\"ok\"=\"1\"\n\"v\"=hex:01,\\\n  02,zz\n\"w\"=\"2\"\n",
       5},
  };
  for (const Case& c : cases) {
    orsareg::RegFileParser parser;
    EXPECT_FALSE(parser.Parse(c.text)) << c.text;
    EXPECT_EQ(c.line, parser.errorLine()) << c.text;
    EXPECT_FALSE(parser.errorMessage().empty()) << c.text;
    EXPECT_TRUE(parser.changes().empty()) << c.text;
  }
}

// ---------------------------------------------------------------------------
// The .reg writer

TEST(RegFileWriter, ValueLinesTakeTheRegeditForms) {
  struct Case {
    RegValue value;
    const char* line;
  } cases[] = {
      {{"server", platform::kRegSz, Bytes(std::string("a \"q\" \\b\0", 9))},
       "\"server\"=\"a \\\"q\\\" \\\\b\""},
      {{"", platform::kRegSz, Bytes(std::string("d\0", 2))}, "@=\"d\""},
      {{"port", platform::kRegDword, {0xa8, 0x1b, 0, 0}}, "\"port\"=dword:00001ba8"},
      {{"p", platform::kRegExpandSz, Bytes(std::string("%A%\0", 4))},
       "\"p\"=hex(2):25,00,41,00,25,00,00,00"},
      {{"b", platform::kRegBinary, {0, 0xab}}, "\"b\"=hex:00,ab"},
      {{"noNul", platform::kRegSz, Bytes("ab")}, "\"noNul\"=hex(1):61,00,62,00"},
      {{"short", platform::kRegDword, {1}}, "\"short\"=hex(4):01"},
      {{"none", platform::kRegNone, {}}, "\"none\"=hex(0):"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.line, orsareg::RegFileWriter::ValueLine(c.value));
}

TEST(RegFileWriter, WhatItWritesReadsBackToTheSameBytes) {
  std::vector<unsigned char> longBlob;
  for (int i = 0; i < 300; ++i) longBlob.push_back(static_cast<unsigned char>(i * 7));
  std::vector<RegValue> values = {
      {"plain", platform::kRegSz, Bytes(std::string("C:\\Program Files\\OBX\0", 21))},
      {"lineBreak", platform::kRegSz, Bytes(std::string("a\r\nb\0", 6))},
      {"innerNul", platform::kRegSz, Bytes(std::string("a\0b\0", 4))},
      {"notUtf8", platform::kRegExpandSz, Bytes(std::string("\xB0\xA1%TEMP%\xFF\0", 11))},
      {"unicode", platform::kRegExpandSz, Bytes(std::string("\xF0\x9F\x98\x80 \xE4\xB8\xAD\0", 9))},
      {"gbkQuoted", platform::kRegSz, Bytes(std::string("\xB0\xA1 \xE9t\xE9\0", 7))},
      {"dword", platform::kRegDword, {1, 2, 3, 4}},
      {"long", platform::kRegBinary, longBlob},
      {"odd", 11, {1, 2, 3, 4, 5, 6, 7, 8}},
  };
  std::string text = std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n";
  for (const RegValue& v : values) text += orsareg::RegFileWriter::ValueLine(v) + "\n";
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;

  // As the file holds it: UTF-16LE, CR LF, continuation lines included.
  orsareg::RegFileParser parser;
  ASSERT_TRUE(parser.Parse(orsareg::RegFileWriter::FileBytes(text)))
      << parser.errorLine() << ": " << parser.errorMessage();
  ASSERT_EQ(values.size() + 1, parser.changes().size());
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(values[i].name, parser.changes()[i + 1].name);
    EXPECT_EQ(values[i].type, parser.changes()[i + 1].type) << values[i].name;
    EXPECT_EQ(values[i].data, parser.changes()[i + 1].data) << values[i].name;
  }
}

TEST(RegText, DwordTextIsDecimalOrHexWithinRange) {
  struct Case {
    const char* text;
    bool ok;
    uint32_t value;
  } cases[] = {
      {"0", true, 0},
      {"24", true, 24},
      {"0x18", true, 24},
      {"0XfF", true, 255},
      {"4294967295", true, 0xFFFFFFFF},
      {"0xFFFFFFFF", true, 0xFFFFFFFF},
      {"4294967296", false, 0},
      {"0x100000000", false, 0},
      {"-1", false, 0},
      {"12a", false, 0},
      {"0x", false, 0},
      {"", false, 0},
      {" 1", false, 0},
  };
  for (const Case& c : cases) {
    uint32_t value = 0;
    EXPECT_EQ(c.ok, orsareg::ParseDwordText(c.text, &value)) << c.text;
    if (c.ok) {
      EXPECT_EQ(c.value, value) << c.text;
    }
  }
}

// ---------------------------------------------------------------------------
// The commands, in this process

class RegCommandTest : public ::testing::Test {
 protected:
  obxtest::TempStateRoot root_;
};

TEST_F(RegCommandTest, AddStoresEachTypeAndQueryPrintsRegLayout) {
  const std::string key = "HKLM\\SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX";
  struct Case {
    std::vector<std::string> args;
    const char* name;
    uint32_t type;
    std::vector<unsigned char> data;
    const char* shown;
  } cases[] = {
      {{"/v", "FileSavedPath", "/d", "/var/obx/download"},
       "FileSavedPath",
       platform::kRegSz,
       Bytes(std::string("/var/obx/download\0", 18)),
       "    FileSavedPath    REG_SZ    /var/obx/download\n"},
      {{"/v", "Expand", "/t", "REG_EXPAND_SZ", "/d", "%TEMP%\\x"},
       "Expand",
       platform::kRegExpandSz,
       Bytes(std::string("%TEMP%\\x\0", 9)),
       "    Expand    REG_EXPAND_SZ    %TEMP%\\x\n"},
      {{"/v", "taskSchedule", "/t", "reg_dword", "/d", "0x18"},
       "taskSchedule",
       platform::kRegDword,
       {24, 0, 0, 0},
       "    taskSchedule    REG_DWORD    0x18\n"},
      {{"/v", "TryTimes", "/t", "REG_DWORD", "/d", "3"},
       "TryTimes",
       platform::kRegDword,
       {3, 0, 0, 0},
       "    TryTimes    REG_DWORD    0x3\n"},
      {{"/v", "Blob", "/t", "REG_BINARY", "/d", "00aBff"},
       "Blob",
       platform::kRegBinary,
       {0, 0xab, 0xff},
       "    Blob    REG_BINARY    00ABFF\n"},
      {{"/v", "Multi", "/t", "REG_MULTI_SZ", "/d", "a\\0b"},
       "Multi",
       7,
       Bytes(std::string("a\0b\0\0", 5)),
       "    Multi    REG_MULTI_SZ    a\\0b\n"},
      {{"/v", "Empty"}, "Empty", platform::kRegSz, {0}, "    Empty    REG_SZ    \n"},
      {{"/ve", "/d", "default"},
       "",
       platform::kRegSz,
       Bytes(std::string("default\0", 8)),
       "    (Default)    REG_SZ    default\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"add", key};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("/f");
    Outcome add = RunInProcess(args);
    ASSERT_EQ(0, add.exitCode) << c.name << add.err;
    EXPECT_EQ("The operation completed successfully.\n", add.out);
    uint32_t type = 0;
    std::vector<unsigned char> data;
    ASSERT_TRUE(ReadValue(RegRoot::kLocalMachine, key.substr(5), c.name, &type, &data)) << c.name;
    EXPECT_EQ(c.type, type) << c.name;
    EXPECT_EQ(c.data, data) << c.name;

    std::vector<std::string> query = {"query", key};
    if (*c.name)
      query.insert(query.end(), {"/v", c.name});
    else
      query.push_back("/ve");
    Outcome shown = RunInProcess(query);
    ASSERT_EQ(0, shown.exitCode) << shown.err;
    EXPECT_EQ("\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX\n" +
                  std::string(c.shown) + "\n",
              shown.out);
  }
}

TEST_F(RegCommandTest, QueryOfAKeyListsValuesThenSubkeys) {
  ASSERT_EQ(0, RunInProcess({"add", "HKCU\\Software\\Kelvor.Tz\\QUOR", "/v", "OsLanguage", "/t",
                             "REG_DWORD", "/d", "2052", "/f"})
                   .exitCode);
  ASSERT_EQ(0, RunInProcess({"add", "HKCU\\Software\\Kelvor.Tz\\QUOR\\Sub"}).exitCode);
  Outcome q = RunInProcess({"query", "hkey_current_user\\software\\kelvor.tz\\quor\\"});
  ASSERT_EQ(0, q.exitCode) << q.err;
  EXPECT_EQ(
      "\nHKEY_CURRENT_USER\\Software\\Kelvor.Tz\\QUOR\n"
      "    OsLanguage    REG_DWORD    0x804\n"
      "\nHKEY_CURRENT_USER\\Software\\Kelvor.Tz\\QUOR\\Sub\n\n",
      q.out);
}

// A failure exits 1, a usage error (wrong arguments, found without touching
// the registry) 2; both with one line naming the key, value or argument.
TEST_F(RegCommandTest, FailuresAndUsageErrorsExitWithOneLineNamingTheKeyOrValue) {
  ASSERT_EQ(0, RunInProcess({"add", "HKLM\\K", "/v", "v", "/d", "old", "/f"}).exitCode);
  struct Case {
    std::vector<std::string> args;
    const char* mentions;
    int exitCode = 1;
  } cases[] = {
      {{"query", "HKLM\\Missing"}, "HKEY_LOCAL_MACHINE\\Missing"},
      {{"query", "HKLM\\K", "/v", "nope"}, "\"nope\""},
      {{"query", "HKXX\\K"}, "HKXX\\K", 2},
      {{"add", "HKLM\\K", "/v", "v", "/d", "new"}, "\"v\""},  // exists, no /f
      {{"add", "HKLM\\K", "/v", "n", "/t", "REG_DWORD", "/d", "ten", "/f"}, "\"n\"", 2},
      {{"add", "HKLM\\K", "/v", "n", "/t", "REG_DWORD", "/d", "4294967296", "/f"}, "\"n\"", 2},
      {{"add", "HKLM\\K", "/v", "n", "/t", "REG_MULTI", "/d", "x", "/f"},
       "HKEY_LOCAL_MACHINE\\K",
       2},
      {{"add", "HKLM\\K", "/v", "n", "/t", "REG_BINARY", "/d", "abc", "/f"}, "\"n\"", 2},
      {{"delete", "HKLM\\K", "/v", "v"}, "HKEY_LOCAL_MACHINE\\K", 2},  // no /f
      {{"delete", "HKLM\\K", "/v", "absent", "/f"}, "\"absent\""},
      {{"delete", "HKLM\\Missing", "/f"}, "HKEY_LOCAL_MACHINE\\Missing"},
      {{"delete", "HKLM", "/f"}, "HKEY_LOCAL_MACHINE"},
      {{"import", "/nonexistent/file.reg"}, "/nonexistent/file.reg"},
      {{"export", "HKLM\\Missing", "out.reg"}, "HKEY_LOCAL_MACHINE\\Missing"},
      {{"frobnicate"}, "frobnicate", 2},
      {{"add", "HKLM\\K", "/v"}, "/v", 2},
      {{"add", "HKLM\\K", "/q"}, "/q", 2},
      {{"export", "HKLM\\K", "-Z", "x.reg"}, "-Z", 2},
      {{}, "command", 2},
  };
  for (const Case& c : cases) {
    Outcome o = RunInProcess(c.args);
    std::string shown = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(c.exitCode, o.exitCode) << shown;
    EXPECT_TRUE(IsOneErrorLine(o.err)) << o.err;
    EXPECT_NE(std::string::npos, o.err.find(c.mentions)) << o.err;
    EXPECT_EQ("", o.out) << shown;
  }
  uint32_t type = 0;
  std::vector<unsigned char> data;
  ASSERT_TRUE(ReadValue(RegRoot::kLocalMachine, "K", "v", &type, &data));
  EXPECT_EQ(Bytes(std::string("old\0", 4)), data);  // no failed command changed it
  EXPECT_FALSE(ReadValue(RegRoot::kLocalMachine, "K", "n", &type, &data));
}

TEST_F(RegCommandTest, DeleteRemovesValuesOrTheWholeTree) {
  for (const char* name : {"a", "b", "c"})
    ASSERT_EQ(0, RunInProcess({"add", "HKLM\\T\\Sub", "/v", name, "/d", "x", "/f"}).exitCode);
  ASSERT_EQ(0, RunInProcess({"add", "HKLM\\T", "/ve", "/d", "top", "/f"}).exitCode);
  uint32_t type = 0;
  std::vector<unsigned char> data;

  EXPECT_EQ(0, RunInProcess({"delete", "HKLM\\t\\sub", "/v", "A", "/f"}).exitCode);
  EXPECT_FALSE(ReadValue(RegRoot::kLocalMachine, "T\\Sub", "a", &type, &data));
  EXPECT_TRUE(ReadValue(RegRoot::kLocalMachine, "T\\Sub", "b", &type, &data));

  EXPECT_EQ(0, RunInProcess({"delete", "HKLM\\T\\Sub", "/va", "/f"}).exitCode);
  EXPECT_FALSE(ReadValue(RegRoot::kLocalMachine, "T\\Sub", "b", &type, &data));
  EXPECT_TRUE(KeyExists(RegRoot::kLocalMachine, "T\\Sub"));

  EXPECT_EQ(0, RunInProcess({"delete", "HKLM\\T", "/ve", "/f"}).exitCode);
  EXPECT_FALSE(ReadValue(RegRoot::kLocalMachine, "T", "", &type, &data));

  EXPECT_EQ(0, RunInProcess({"delete", "HKLM\\T", "/f"}).exitCode);
  EXPECT_FALSE(KeyExists(RegRoot::kLocalMachine, "T"));
  EXPECT_FALSE(KeyExists(RegRoot::kLocalMachine, "T\\Sub"));
}

TEST_F(RegCommandTest, AddWithoutValueCreatesTheKeyAlone) {
  ASSERT_EQ(0, RunInProcess({"add", "HKLM\\A\\B\\C"}).exitCode);
  EXPECT_TRUE(KeyExists(RegRoot::kLocalMachine, "A\\B\\C"));
  uint32_t type = 0;
  std::vector<unsigned char> data;
  EXPECT_FALSE(ReadValue(RegRoot::kLocalMachine, "A\\B\\C", "", &type, &data));
}

TEST_F(RegCommandTest, MalformedImportAppliesNothing) {
  ASSERT_EQ(0, RunInProcess({"add", "HKLM\\Keep", "/v", "v", "/d", "before", "/f"}).exitCode);
  obxtest::WriteFile(root_.Sub("bad.reg"), std::string(kHeader) +
                                               "[-HKLM\\Keep]\n"
                                               "[HKLM\\New]\n"
                                               "\"ok\"=\"1\"\n"
                                               "\"bad\"=dword:nothex\n");
  Outcome o = RunInProcess({"import", root_.Sub("bad.reg")});
  EXPECT_EQ(1, o.exitCode);
  EXPECT_TRUE(IsOneErrorLine(o.err)) << o.err;
  EXPECT_NE(std::string::npos, o.err.find("line 6")) << o.err;
  EXPECT_NE(std::string::npos, o.err.find("\"bad\"")) << o.err;
  EXPECT_FALSE(KeyExists(RegRoot::kLocalMachine, "New"));
  uint32_t type = 0;
  std::vector<unsigned char> data;
  ASSERT_TRUE(ReadValue(RegRoot::kLocalMachine, "Keep", "v", &type, &data));
  EXPECT_EQ(Bytes(std::string("before\0", 7)), data);
}

// "k\k\...": a key `depth` levels below its hive.
std::string Chain(size_t depth) {
  std::string path = "k";
  for (size_t i = 1; i < depth; ++i) path += "\\k";
  return path;
}

TEST_F(RegCommandTest, KeysDeeperThanTheLimitAreRefusedWithAClearLine) {
  const std::string tooDeep = Chain(platform::kMaxKeyDepth + 1);
  obxtest::WriteFile(root_.Sub("deep.reg"), std::string(kHeader) +
                                                "[HKLM\\Fine]\n"
                                                "[HKLM\\" +
                                                tooDeep + "]\n");
  Outcome import = RunInProcess({"import", root_.Sub("deep.reg")});
  EXPECT_EQ(1, import.exitCode);
  EXPECT_EQ("orsa-reg: " + root_.Sub("deep.reg") +
                " line 4: key is 513 levels deep, more than the 512 allowed; nothing was "
                "imported.\n",
            import.err);
  EXPECT_FALSE(KeyExists(RegRoot::kLocalMachine, "Fine"));

  Outcome add = RunInProcess({"add", "HKLM\\" + tooDeep, "/v", "x", "/d", "1"});
  EXPECT_EQ(2, add.exitCode);
  EXPECT_TRUE(IsOneErrorLine(add.err)) << add.err;
  EXPECT_EQ(0u, add.err.find("orsa-reg: Key HKEY_LOCAL_MACHINE\\k\\k\\")) << add.err;
  EXPECT_NE(std::string::npos,
            add.err.find(" is 513 levels deep; a key may be at most 512 levels deep.\n"))
      << add.err;
  EXPECT_FALSE(KeyExists(RegRoot::kLocalMachine, "k"));
}

// The deepest key allowed, walked by a process whose stack is far smaller than
// one frame per level would need.
TEST_F(RegCommandTest, DeepestKeysAreWalkedWithoutRecursion) {
  const std::string deepest = "HKEY_LOCAL_MACHINE\\" + Chain(platform::kMaxKeyDepth);
  obxtest::WriteFile(root_.Sub("deep.reg"),
                     std::string(kHeader) + "[" + deepest + "]\n\"v\"=\"bottom\"\n");
  ASSERT_EQ(0, RunTool(root_, {"import", root_.Sub("deep.reg")}).exitCode);
  struct Case {
    std::vector<std::string> args;
    std::string file;  // where the output goes; "" for standard output
    std::string bottom;
  } cases[] = {
      {{"query", "HKLM\\k", "/s"}, "", "\n" + deepest + "\n    v    REG_SZ    bottom\n\n"},
      {{"export", "HKLM\\k", root_.Sub("out.reg")},
       root_.Sub("out.reg"),
       "[" + deepest + "]\n\"v\"=\"bottom\"\n\n"},
      {{"delete", "HKLM\\k", "/f"}, "", "The operation completed successfully.\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"-c", "ulimit -s 256 && exec \"$0\" \"$@\"",
                                  obxtest::BinDir() + "/orsa-reg"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Outcome o = obxtest::RunChild(root_, "/bin/sh", args);
    ASSERT_EQ(0, o.exitCode) << c.args[0] << ": " << o.err;
    std::string text = c.file.empty() ? o.out : ExportedText(c.file);
    EXPECT_EQ(text.size() - c.bottom.size(), text.rfind(c.bottom)) << c.args[0];
  }
  EXPECT_FALSE(KeyExists(RegRoot::kLocalMachine, "k"));
}

TEST_F(RegCommandTest, ExportThenImportRestoresTheTree) {
  const std::vector<std::vector<std::string>> adds = {
      {"add", "HKLM\\Src", "/v", "Name", "/d", "with \"quotes\" and \\", "/f"},
      {"add", "HKLM\\Src", "/v", "Exp", "/t", "REG_EXPAND_SZ", "/d", "%SystemRoot%\\x", "/f"},
      {"add", "HKLM\\Src", "/v", "Num", "/t", "REG_DWORD", "/d", "4294967295", "/f"},
      {"add", "HKLM\\Src\\Child\\Grand", "/ve", "/d", "deep", "/f"},
      {"add", "HKLM\\Src\\Empty"},
      {"add", "HKLM\\Src", "/v", "Accent", "/d", "\xC3\xA9t\xC3\xA9", "/f"},
  };
  for (const auto& args : adds) ASSERT_EQ(0, RunInProcess(args).exitCode);
  Outcome exported = RunInProcess({"export", "HKLM\\src", root_.Sub("tree.reg")});
  ASSERT_EQ(0, exported.exitCode) << exported.err;
  // What the registry editor writes: UTF-16LE after a byte-order mark, CR LF.
  const std::string bytes = obxtest::ReadFile(root_.Sub("tree.reg"));
  EXPECT_EQ(0u, bytes.find(std::string("\xFF\xFEW\0i\0", 6)));
  EXPECT_NE(std::string::npos, bytes.find(std::string("\"\0\xE9\0t\0\xE9\0\"\0\r\0\n\0", 14)));
  std::string text = ExportedText(root_.Sub("tree.reg"));
  EXPECT_EQ(0u, text.find(kHeader));
  EXPECT_NE(std::string::npos, text.find("\"Num\"=dword:ffffffff\n"));
  EXPECT_NE(std::string::npos, text.find("\"Exp\"=hex(2):25,00,53,00"));

  ASSERT_EQ(0, RunInProcess({"delete", "HKLM\\Src", "/f"}).exitCode);
  ASSERT_FALSE(KeyExists(RegRoot::kLocalMachine, "Src"));
  Outcome imported = RunInProcess({"import", root_.Sub("tree.reg")});
  ASSERT_EQ(0, imported.exitCode) << imported.err;

  struct Expect {
    const char* key;
    const char* name;
    uint32_t type;
    std::vector<unsigned char> data;
  } expected[] = {
      {"Src", "Name", platform::kRegSz, Bytes(std::string("with \"quotes\" and \\\0", 20))},
      {"Src", "Exp", platform::kRegExpandSz, Bytes(std::string("%SystemRoot%\\x\0", 15))},
      {"Src", "Num", platform::kRegDword, {0xff, 0xff, 0xff, 0xff}},
      {"Src\\Child\\Grand", "", platform::kRegSz, Bytes(std::string("deep\0", 5))},
      {"Src", "Accent", platform::kRegSz, Bytes(std::string("\xC3\xA9t\xC3\xA9\0", 6))},
  };
  for (const Expect& e : expected) {
    uint32_t type = 0;
    std::vector<unsigned char> data;
    ASSERT_TRUE(ReadValue(RegRoot::kLocalMachine, e.key, e.name, &type, &data)) << e.name;
    EXPECT_EQ(e.type, type) << e.name;
    EXPECT_EQ(e.data, data) << e.name;
  }
  EXPECT_TRUE(KeyExists(RegRoot::kLocalMachine, "Src\\Empty"));
  // Exporting again gives the same text: nothing was lost or reordered.
  ASSERT_EQ(0, RunInProcess({"export", "HKLM\\Src", root_.Sub("again")}).exitCode);
  EXPECT_EQ(bytes, obxtest::ReadFile(root_.Sub("again")));
}

// ---------------------------------------------------------------------------
// The executable

TEST_F(RegCommandTest, ExecutableReportsThroughExitCodeAndStreams) {
  Outcome help = RunTool(root_, {"--help"});
  EXPECT_EQ(0, help.exitCode);
  EXPECT_EQ(0u, help.out.find("Usage: orsa-reg"));

  Outcome add = RunTool(root_, {"add", "HKLM\\SOFTWARE\\Kelvor", "/v", "x", "/d", "1", "/f"});
  EXPECT_EQ(0, add.exitCode) << add.err;
  EXPECT_EQ("", add.err);
  uint32_t type = 0;
  std::vector<unsigned char> data;
  EXPECT_TRUE(ReadValue(RegRoot::kLocalMachine, "software\\kelvor", "X", &type, &data));

  Outcome missing = RunTool(root_, {"query", "HKLM\\SOFTWARE\\Kelvor", "/v", "y"});
  EXPECT_EQ(1, missing.exitCode);
  EXPECT_EQ("orsa-reg: Value \"y\" not found under HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvor\n",
            missing.err);

  obxtest::WriteFile(root_.Sub("bad.reg"),
                     std::string(kHeader) + "[HKLM\\SOFTWARE\\New]\n\"a\"=\"1\"\nbroken\n");
  Outcome bad = RunTool(root_, {"import", root_.Sub("bad.reg")});
  EXPECT_EQ(1, bad.exitCode);
  EXPECT_EQ("orsa-reg: " + root_.Sub("bad.reg") +
                " line 5: unrecognised line \"broken\"; nothing was imported.\n",
            bad.err);
  EXPECT_FALSE(KeyExists(RegRoot::kLocalMachine, "SOFTWARE\\New"));
}

}  // namespace
