#pragma once
// A composite: a small manifest naming a shared library and the services it
// registers, sealed with a passphrase so that only a holder of the passphrase
// can make the host load code.
//
// Manifest text (UTF-8, one "key=value" per line, "#" starts a comment line):
//   orsa-composite 1
//   library=liborsap2p.so
//   service=orsa::net::IP2pDownload
// The first line is required. `library` appears exactly once; a relative name
// is resolved beside the manifest file. `service` names an interface type the
// library's classes serve; each one must be served once the composite is
// activated. Unknown keys are refused, so a typo cannot pass unnoticed.
#include <string>
#include <vector>

namespace orsahost {

struct CompositeManifest {
  std::string library;
  std::vector<std::string> services;
};

std::string FormatCompositeManifest(const CompositeManifest& manifest);

// Throws std::runtime_error saying what is wrong (without the file's path).
CompositeManifest ParseCompositeManifest(const std::string& text);

// Seals the manifest with `passphrase` through the host's security and
// compression services and writes it to `path` (replaced whole). Throws
// std::runtime_error naming the path when it cannot be written.
void WriteComposite(const std::string& path, const CompositeManifest& manifest,
                    const std::string& passphrase);

// Reads and opens a composite file. Throws std::runtime_error naming `path`
// when the file is missing, does not open with `passphrase` (wrong passphrase
// or any changed byte), or holds no valid manifest. `path` may use "\" as a
// separator and is mapped into the state root like every path of the agent.
CompositeManifest ReadComposite(const std::string& path, const std::string& passphrase);

// The library's file: `manifest.library` as is when absolute, else beside the
// composite file at `compositeNativePath` (a native path: "/" separators, or
// "\" on Windows).
std::string ResolveCompositeLibrary(const std::string& compositeNativePath,
                                    const CompositeManifest& manifest);

}  // namespace orsahost
