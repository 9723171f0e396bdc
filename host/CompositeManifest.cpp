#include "host/CompositeManifest.h"

#include <cstring>
#include <sstream>
#include <stdexcept>

#include "host/services/SecurityHelper.h"
#include "host/services/ZipHelper.h"
#include "orsa/Seal.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "platform/WinError.h"

namespace orsahost {
namespace {

const char kHeader[] = "orsa-composite 1";
// A manifest is a few lines; anything far larger is not one, and is not read
// into memory whole.
const uint64_t kMaxCompositeBytes = 1 << 20;

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::string FormatCompositeManifest(const CompositeManifest& manifest) {
  std::string text = std::string(kHeader) + "\n";
  text += "library=" + manifest.library + "\n";
  for (const std::string& s : manifest.services) text += "service=" + s + "\n";
  return text;
}

CompositeManifest ParseCompositeManifest(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  bool header = false;
  bool haveLibrary = false;
  CompositeManifest manifest;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (!header) {
      if (line != kHeader) throw std::runtime_error("not a composite manifest");
      header = true;
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos)
      throw std::runtime_error("line " + std::to_string(number) + " is not key=value");
    std::string key = Trim(line.substr(0, eq));
    std::string value = Trim(line.substr(eq + 1));
    if (value.empty())
      throw std::runtime_error("line " + std::to_string(number) + " has an empty value");
    if (key == "library") {
      if (haveLibrary) throw std::runtime_error("library named twice");
      manifest.library = value;
      haveLibrary = true;
    } else if (key == "service") {
      manifest.services.push_back(value);
    } else {
      throw std::runtime_error("unknown key \"" + key + "\" on line " + std::to_string(number));
    }
  }
  if (!header) throw std::runtime_error("not a composite manifest");
  if (!haveLibrary) throw std::runtime_error("no library named");
  return manifest;
}

void WriteComposite(const std::string& path, const CompositeManifest& manifest,
                    const std::string& passphrase) {
  std::string text = FormatCompositeManifest(manifest);
  SecurityHelper security;
  ZipHelper zip;
  std::string sealed = orsa::SealWith(security, zip, passphrase, text.data(), text.size());
  std::string native = platform::NativePath(path);
  std::string::size_type slash = native.find_last_of("/\\");
  if (slash != std::string::npos && slash > 0) platform::CreateDirectories(native.substr(0, slash));
  long error = platform::kErrorSuccess;
  if (!platform::ReplaceFileAtomically(native, sealed, &error))
    throw std::runtime_error("composite " + path + ": cannot be written: " +
                             platform::ErrorText(error) + " (error " + std::to_string(error) + ")");
}

CompositeManifest ReadComposite(const std::string& path, const std::string& passphrase) {
  std::string sealed;
  const long error = platform::ReadFileToString(path, &sealed, kMaxCompositeBytes);
  if (error == platform::kErrorNotEnoughMemory)
    throw std::runtime_error("composite " + path + ": not a composite file");
  if (error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound)
    throw std::runtime_error("composite " + path + ": file not found");
  if (error != platform::kErrorSuccess)
    throw std::runtime_error("composite " + path +
                             ": cannot be read: " + platform::ErrorText(error));

  std::string text;
  try {
    SecurityHelper security;
    ZipHelper zip;
    text = orsa::OpenWith(security, zip, passphrase, sealed);
  } catch (const std::exception&) {
    // The services cannot tell a wrong passphrase from a changed file, and
    // neither should the message: both mean the file is not to be trusted.
    throw std::runtime_error(
        "composite " + path +
        ": does not open with the passphrase (wrong passphrase or damaged file)");
  }
  try {
    return ParseCompositeManifest(text);
  } catch (const std::exception& e) {
    throw std::runtime_error("composite " + path + ": bad manifest: " + e.what());
  }
}

std::string ResolveCompositeLibrary(const std::string& compositeNativePath,
                                    const CompositeManifest& manifest) {
  // A native path has one kind of separator: "/", or "\" on Windows, where a
  // path with a drive ("C:...") is absolute too.
  const std::string& library = manifest.library;
  if (!library.empty() &&
      (library[0] == '/' || library[0] == '\\' || (library.size() > 1 && library[1] == ':')))
    return library;
  const std::string::size_type slash = compositeNativePath.find_last_of("/\\");
  if (slash == std::string::npos) return "./" + library;
  return compositeNativePath.substr(0, slash + 1) + library;
}

}  // namespace orsahost
