#include "tools/reg/RegCommand.h"

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <exception>
#include <sstream>

#include "platform/File.h"
#include "platform/StateRoot.h"
#include "platform/WinError.h"
#include "tools/common/InputFile.h"
#include "tools/reg/RegFileParser.h"
#include "tools/reg/RegFileWriter.h"
#include "tools/reg/RegText.h"
#include "tools/reg/RegTreeWalker.h"

namespace orsareg {

namespace {

const char kDone[] = "The operation completed successfully.";
const char kPrefix[] = "orsa-reg: ";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A platform failure in words, its code after it.
std::string Reason(long rc) {
  return platform::ErrorText(rc) + " (error " + std::to_string(rc) + ")";
}

// The key as the messages show it: full hive name, the path as given.
std::string ShownKey(platform::RegRoot root, const std::string& subkey) {
  size_t start = subkey.find_first_not_of('\\');
  size_t end = subkey.find_last_not_of('\\');
  std::string trimmed = start == std::string::npos ? "" : subkey.substr(start, end - start + 1);
  return std::string(platform::RegRootName(root)) + (trimmed.empty() ? "" : "\\" + trimmed);
}

// A stored key path as the messages show it.
std::string FullKey(platform::RegRoot root, const std::string& path) {
  return std::string(platform::RegRootName(root)) + (path.empty() ? "" : "\\") + path;
}

// A key too deep to be shown whole in a one-line message: its first names.
std::string AbbreviatedKey(platform::RegRoot root, const std::string& subkey) {
  constexpr size_t kShownLength = 80;
  std::string shown = ShownKey(root, subkey);
  if (shown.size() <= kShownLength) return shown;
  size_t cut = shown.rfind('\\', kShownLength);
  return shown.substr(0, cut) + "\\...";
}

std::string ShownValue(const std::string& name) {
  return name.empty() ? std::string("(Default)") : "\"" + name + "\"";
}

bool OptionIs(const std::string& arg, const char* name) {
  return arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-') &&
         strcasecmp(arg.c_str() + 1, name) == 0;
}

// "/x", "-xy", "/?": an option, known or not. Paths such as "/tmp/a.reg" are not.
bool LooksLikeOption(const std::string& arg) {
  if (arg.size() < 2 || arg.size() > 3 || (arg[0] != '/' && arg[0] != '-')) return false;
  for (size_t i = 1; i < arg.size(); ++i)
    if (!std::isalpha(static_cast<unsigned char>(arg[i])) && arg[i] != '?') return false;
  return true;
}

// The key argument of a command that takes `count` arguments, the key first.
// False, with the error line written, when the count is wrong or the key
// names no known root.
bool KeyArgument(const std::vector<std::string>& positional, size_t count, const char* usage,
                 platform::RegRoot* root, std::string* subkey, std::ostream& err) {
  if (positional.size() != count) {
    // Name what was given, so that a stray word or a misspelt option shows.
    err << kPrefix << usage << ", not " << positional.size();
    for (size_t i = 0; i < positional.size(); ++i)
      err << (i == 0 ? " (" : ", ") << "\"" << positional[i] << "\"";
    err << (positional.empty() ? "" : ")") << ". Run orsa-reg --help for the usage.\n";
    return false;
  }
  if (!SplitKeyArgument(positional[0], root, subkey)) {
    err << kPrefix << "Invalid key name \"" << positional[0] << "\".\n";
    return false;
  }
  return true;
}

bool EncodeData(uint32_t type, const std::string& text, std::vector<unsigned char>* data) {
  switch (type) {
    case platform::kRegSz:
    case platform::kRegExpandSz:
      data->assign(text.begin(), text.end());
      data->push_back(0);
      return true;
    case 7: {  // REG_MULTI_SZ: the strings separated by "\0" in the text
      data->clear();
      for (size_t start = 0; !text.empty();) {
        const size_t end = text.find("\\0", start);
        const std::string item = text.substr(start, end - start);
        data->insert(data->end(), item.begin(), item.end());
        data->push_back(0);
        if (end == std::string::npos) break;
        start = end + 2;
      }
      data->push_back(0);
      return true;
    }
    case platform::kRegDword: {
      uint32_t value = 0;
      if (!text.empty() && !ParseDwordText(text, &value)) return false;
      *data = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
               static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
      return true;
    }
    default: {  // REG_BINARY, REG_NONE: hex digits
      if (text.size() % 2 != 0) return false;
      data->clear();
      for (size_t i = 0; i < text.size(); i += 2) {
        uint32_t byte = 0;
        if (!ParseDwordText("0x" + text.substr(i, 2), &byte)) return false;
        data->push_back(static_cast<unsigned char>(byte));
      }
      return true;
    }
  }
}

}  // namespace

std::string RegCommand::Usage() {
  return "Usage: orsa-reg COMMAND ARGUMENTS\n"
         "  add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
         "      TYPE is REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY\n"
         "      or REG_NONE; REG_MULTI_SZ data is strings separated by \\0, REG_DWORD data\n"
         "      decimal or 0x hex, REG_BINARY data hex digits.\n"
         "      Without /v, /ve, /t or /d the key alone is created.\n"
         "      /f is needed to replace a value that exists.\n"
         "  query KEY [/v NAME | /ve] [/s]\n"
         "  delete KEY [/v NAME | /ve | /va] /f\n"
         "      Without /v, /ve or /va the key and everything below it is deleted.\n"
         "  import FILE.reg\n"
         "      Applies the whole file or, when any line is malformed, nothing.\n"
         "  export KEY FILE.reg [/y]\n"
         "      Writes the key and everything below it; an existing file is replaced.\n"
         "KEY starts with HKLM, HKCU, HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER, e.g.\n"
         "  HKLM\\SOFTWARE\\Kelvor. Key and value names ignore letter case.\n"
         "The registry is the one of the state root (ORSA_ROOT).\n"
         "Exit status: 0 on success, 1 on failure, 2 on a usage error.\n";
}

int RegCommand::Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    if (args.empty()) {
      err << kPrefix << "No command given. Run orsa-reg --help for the commands.\n";
      return kExitUsage;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "/?" || command == "-?") {
      out << Usage();
      return 0;
    }
    if (command == "--version") {
      out << "orsa-reg " << OBX_VERSION << "\n";
      return 0;
    }
    Options options;
    std::string error;
    if (!ParseOptions(std::vector<std::string>(args.begin() + 1, args.end()), &options, &error)) {
      err << kPrefix << error << "\n";
      return kExitUsage;
    }
    if (strcasecmp(command.c_str(), "add") == 0) return Add(options, out, err);
    if (strcasecmp(command.c_str(), "query") == 0) return Query(options, out, err);
    if (strcasecmp(command.c_str(), "delete") == 0) return Delete(options, out, err);
    if (strcasecmp(command.c_str(), "import") == 0) return Import(options, out, err);
    if (strcasecmp(command.c_str(), "export") == 0) return Export(options, out, err);
    err << kPrefix << (command.compare(0, 1, "-") == 0 ? "Unknown option \"" : "Unknown command \"")
        << command << "\". Run orsa-reg --help for the commands.\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    err << kPrefix << e.what() << "\n";
    return kExitFailure;
  } catch (...) {
    err << kPrefix << "unexpected failure\n";
    return kExitFailure;
  }
}

bool RegCommand::ParseOptions(const std::vector<std::string>& args, Options* options,
                              std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto takeValue = [&](std::string* target, const char* what) {
      if (i + 1 >= args.size()) {
        *error = std::string("Option ") + arg + " needs " + what + ".";
        return false;
      }
      *target = args[++i];
      return true;
    };
    if (OptionIs(arg, "v")) {
      if (!takeValue(&options->valueName, "a value name")) return false;
      options->hasValueName = true;
    } else if (OptionIs(arg, "ve")) {
      options->defaultValue = true;
    } else if (OptionIs(arg, "va")) {
      options->allValues = true;
    } else if (OptionIs(arg, "t")) {
      if (!takeValue(&options->type, "a type")) return false;
      options->hasType = true;
    } else if (OptionIs(arg, "d")) {
      if (!takeValue(&options->data, "data")) return false;
      options->hasData = true;
    } else if (OptionIs(arg, "f")) {
      options->force = true;
    } else if (OptionIs(arg, "s")) {
      options->recursive = true;
    } else if (OptionIs(arg, "y")) {
      // export replaces an existing file anyway
    } else if (LooksLikeOption(arg)) {
      *error = "Unknown option " + arg + ".";
      return false;
    } else {
      options->positional.push_back(arg);
    }
  }
  if (static_cast<int>(options->hasValueName) + static_cast<int>(options->defaultValue) +
          static_cast<int>(options->allValues) >
      1) {
    *error = "Give only one of /v, /ve and /va.";
    return false;
  }
  return true;
}

int RegCommand::Add(const Options& options, std::ostream& out, std::ostream& err) {
  platform::RegRoot root;
  std::string subkey;
  if (!KeyArgument(options.positional, 1, "add takes one key", &root, &subkey, err))
    return kExitUsage;
  size_t depth = platform::RegKeyDepth(subkey);
  if (depth > platform::kMaxKeyDepth) {
    err << kPrefix << "Key " << AbbreviatedKey(root, subkey) << " is " << depth
        << " levels deep; a key may be at most " << platform::kMaxKeyDepth << " levels deep.\n";
    return kExitUsage;
  }
  const std::string key = ShownKey(root, subkey);
  uint32_t type = platform::kRegSz;
  if (!ParseRegTypeName(options.type, &type)) {
    err << kPrefix << "Unsupported type \"" << options.type << "\" for " << key << ".\n";
    return kExitUsage;
  }
  bool setsValue =
      options.hasValueName || options.defaultValue || options.hasData || options.hasType;
  std::string name = options.hasValueName ? options.valueName : std::string();
  std::vector<unsigned char> data;
  if (setsValue && !EncodeData(type, options.data, &data)) {
    err << kPrefix << "Invalid " << RegTypeName(type) << " data \"" << options.data
        << "\" for value " << ShownValue(name) << " of " << key << ".\n";
    return kExitUsage;
  }
  platform::RegKey handle = nullptr;
  long rc = platform::CreateRegKey(root, subkey, platform::kKeyAllAccess, &handle);
  if (rc != platform::kErrorSuccess) {
    err << kPrefix << "Cannot create " << key << ": " << Reason(rc) << ".\n";
    return kExitFailure;
  }
  if (setsValue) {
    if (!options.force && platform::QueryRegValue(handle, name, nullptr, nullptr, nullptr) ==
                              platform::kErrorSuccess) {
      platform::CloseRegKey(handle);
      err << kPrefix << "Value " << ShownValue(name) << " already exists under " << key
          << "; add /f to replace it.\n";
      return kExitFailure;
    }
    rc = platform::SetRegValue(handle, name, type, data.data(), static_cast<uint32_t>(data.size()));
    if (rc == platform::kErrorSuccess) rc = platform::FlushRegKey(handle);
  }
  platform::CloseRegKey(handle);
  if (rc != platform::kErrorSuccess) {
    err << kPrefix << "Cannot set value " << ShownValue(name) << " under " << key << " (error "
        << rc << ").\n";
    return kExitFailure;
  }
  out << kDone << "\n";
  return 0;
}

int RegCommand::Query(const Options& options, std::ostream& out, std::ostream& err) {
  platform::RegRoot root;
  std::string subkey;
  if (!KeyArgument(options.positional, 1, "query takes one key", &root, &subkey, err))
    return kExitUsage;
  bool oneValue = options.hasValueName || options.defaultValue;
  std::string wanted = options.hasValueName ? options.valueName : std::string();
  std::string valueMissingUnder;
  auto show = [&](const RegKeyContents& key) {
    std::string shown = FullKey(root, key.path);
    bool found = false;
    std::ostringstream block;
    block << "\n" << shown << "\n";
    for (const platform::RegValue& value : key.values) {
      if (oneValue && strcasecmp(value.name.c_str(), wanted.c_str()) != 0) continue;
      found = true;
      block << "    " << (value.name.empty() ? "(Default)" : value.name) << "    "
            << RegTypeName(value.type) << "    " << FormatQueryData(value.type, value.data) << "\n";
    }
    // With /s and /v only the keys that hold the value are shown, as reg does.
    if (oneValue && !found) {
      if (!options.recursive) valueMissingUnder = shown;
      return;
    }
    out << block.str();
    if (!options.recursive && !oneValue) {
      if (!key.subkeys.empty()) out << "\n";
      for (const std::string& child : key.subkeys) out << shown << "\\" << child << "\n";
    }
  };
  std::string failed;
  long rc = RegTreeWalker::Walk(root, subkey, options.recursive, show, &failed);
  if (rc == platform::kErrorFileNotFound) {
    err << kPrefix << "Key not found: " << ShownKey(root, subkey) << "\n";
    return kExitFailure;
  }
  if (rc != platform::kErrorSuccess) {
    err << kPrefix << "Cannot read " << ShownKey(root, failed) << ": " << Reason(rc) << ".\n";
    return kExitFailure;
  }
  if (!valueMissingUnder.empty()) {
    err << kPrefix << "Value " << ShownValue(wanted) << " not found under " << valueMissingUnder
        << "\n";
    return kExitFailure;
  }
  out << "\n";
  return 0;
}

int RegCommand::Delete(const Options& options, std::ostream& out, std::ostream& err) {
  platform::RegRoot root;
  std::string subkey;
  if (!KeyArgument(options.positional, 1, "delete takes one key", &root, &subkey, err))
    return kExitUsage;
  const std::string key = ShownKey(root, subkey);
  bool wholeKey = !options.hasValueName && !options.defaultValue && !options.allValues;
  if (wholeKey && subkey.find_first_not_of('\\') == std::string::npos) {
    err << kPrefix << "Refusing to delete the root key " << key << ".\n";
    return kExitFailure;
  }
  if (!options.force) {
    err << kPrefix << "Deleting " << (wholeKey ? key : "values of " + key)
        << " needs /f (orsa-reg does not ask).\n";
    return kExitUsage;
  }
  if (wholeKey) {
    long rc = platform::DeleteRegTree(root, subkey);
    if (rc != platform::kErrorSuccess) {
      if (rc == platform::kErrorFileNotFound)
        err << kPrefix << "Key not found: " << key << "\n";
      else
        err << kPrefix << "Cannot delete " << key << ": " << Reason(rc) << ".\n";
      return kExitFailure;
    }
    out << kDone << "\n";
    return 0;
  }
  platform::RegKey handle = nullptr;
  long rc = platform::OpenRegKey(root, subkey, platform::kKeyAllAccess, &handle);
  if (rc != platform::kErrorSuccess) {
    err << kPrefix << "Key not found: " << key << "\n";
    return kExitFailure;
  }
  std::vector<std::string> names;
  if (options.allValues) {
    std::vector<platform::RegValue> values;
    rc = platform::RegEnumValues(handle, &values);
    for (const platform::RegValue& value : values) names.push_back(value.name);
  } else {
    names.push_back(options.hasValueName ? options.valueName : std::string());
  }
  std::string failedName;
  for (const std::string& name : names) {
    if (rc != platform::kErrorSuccess) break;
    rc = platform::DeleteRegValue(handle, name);
    failedName = name;
  }
  platform::CloseRegKey(handle);
  if (rc == platform::kErrorFileNotFound) {
    err << kPrefix << "Value " << ShownValue(failedName) << " not found under " << key << "\n";
    return kExitFailure;
  }
  if (rc != platform::kErrorSuccess) {
    err << kPrefix << "Cannot delete values of " << key << ": " << Reason(rc) << ".\n";
    return kExitFailure;
  }
  out << kDone << "\n";
  return 0;
}

int RegCommand::Import(const Options& options, std::ostream& out, std::ostream& err) {
  if (options.positional.size() != 1) {
    err << kPrefix << "import takes one file.\n";
    return kExitUsage;
  }
  const std::string& file = options.positional[0];
  std::string content;
  const std::string unread = obxtools::ReadInputFile(file, &content);
  if (!unread.empty()) {
    err << kPrefix << "Cannot read " << file << ": " << unread << "\n";
    return kExitFailure;
  }
  RegFileParser parser;
  if (!parser.Parse(content)) {
    err << kPrefix << file << " line " << parser.errorLine() << ": " << parser.errorMessage()
        << "; nothing was imported.\n";
    return kExitFailure;
  }
  long rc = platform::RegApplyChanges(parser.changes());
  if (rc != platform::kErrorSuccess) {
    err << kPrefix << "Cannot import " << file << ": " << Reason(rc) << "; nothing was imported.\n";
    return kExitFailure;
  }
  out << kDone << "\n";
  return 0;
}

int RegCommand::Export(const Options& options, std::ostream& out, std::ostream& err) {
  platform::RegRoot root;
  std::string subkey;
  if (!KeyArgument(options.positional, 2, "export takes a key and a file", &root, &subkey, err))
    return kExitUsage;
  std::string text = RegFileWriter::Header();
  long rc = RegFileWriter::AppendTree(root, subkey, &text);
  if (rc != platform::kErrorSuccess) {
    if (rc == platform::kErrorFileNotFound)
      err << kPrefix << "Key not found: " << ShownKey(root, subkey) << "\n";
    else
      err << kPrefix << "Cannot read " << ShownKey(root, subkey) << ": " << Reason(rc) << ".\n";
    return kExitFailure;
  }
  const std::string& file = options.positional[1];
  long written = platform::kErrorSuccess;
  if (!platform::ReplaceFileAtomically(platform::NativePath(file), RegFileWriter::FileBytes(text),
                                       &written)) {
    err << kPrefix << "Cannot write " << file << ": " << Reason(written) << "\n";
    return kExitFailure;
  }
  out << kDone << "\n";
  return 0;
}

}  // namespace orsareg
