#include "foundation/Cipher.h"

#include "foundation/Runtime.h"

namespace obx {

void EncryptText(const std::string& key, std::string& out, const char* data, size_t length) {
  boost::shared_ptr<orsa::security::ISecurityHelper> security =
      getService<orsa::security::ISecurityHelper>();
  boost::shared_ptr<orsa::zip::IZipHelper> zip = getService<orsa::zip::IZipHelper>();
  if (!security || !zip) return;
  out += orsa::SealWith(*security, *zip, key, data, length);
}

void DecryptText(const std::string& key, std::string& out, const std::string& sealed) {
  boost::shared_ptr<orsa::security::ISecurityHelper> security =
      getService<orsa::security::ISecurityHelper>();
  boost::shared_ptr<orsa::zip::IZipHelper> zip = getService<orsa::zip::IZipHelper>();
  if (!security || !zip) return;
  out = orsa::OpenWith(*security, *zip, key, sealed);
}

}  // namespace obx
