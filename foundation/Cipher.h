#pragma once
// Sealing of texts with the passphrase through the host's compression,
// encryption and text-encoding services.
#include <cstddef>
#include <string>

#include "orsa/Seal.h"

namespace obx {

// The key of every seal and unseal, and of the peer-to-peer composite load.
using orsa::kPassphrase;  // 38 characters

// Looks up both host services; when either is missing returns with `out`
// unchanged. Otherwise appends the sealed text of the `length` bytes at `data`.
// Exceptions of the services reach the caller.
void EncryptText(const std::string& key, std::string& out, const char* data, size_t length);
// Replaces `out` with the opened text (up to its first NUL); unchanged when a
// service is missing. Throws when the text does not open.
void DecryptText(const std::string& key, std::string& out, const std::string& sealed);

}  // namespace obx
