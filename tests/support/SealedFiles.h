#pragma once
// The agent's sealed files as a test writes and reads them, through the
// installed runtime's seal services.
#include <string>

#include "foundation/Cipher.h"
#include "platform/StateRoot.h"
#include "tests/support/TempStateRoot.h"

namespace obxtest {

// Seals `xml` and stores it at the Windows-style `path`; "" stored when the
// runtime cannot seal.
inline void WriteSealedFile(const std::string& path, const std::string& xml) {
  std::string sealed;
  obx::EncryptText(obx::kPassphrase, sealed, xml.data(), xml.size());
  WriteFile(platform::NativePath(path), sealed);
}

// The opened text of the file at the Windows-style `path`; "" when it does not open.
inline std::string ReadOpenedFile(const std::string& path) {
  std::string plain;
  try {
    obx::DecryptText(obx::kPassphrase, plain, ReadFile(platform::NativePath(path)));
  } catch (...) {
    plain.clear();
  }
  return plain;
}

}  // namespace obxtest
