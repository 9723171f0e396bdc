// Network adapters as GetAdaptersInfo lists them.

#include "platform/win32/Windows.h"
// These build on <windows.h>, which must come first.
#include <iphlpapi.h>

#include <vector>

#include "platform/SystemInfo.h"

namespace platform {

bool GetAdaptersInfo(std::vector<AdapterInfo>* adapters) {
  adapters->clear();
  try {
    ULONG size = 16 * sizeof(IP_ADAPTER_INFO);
    std::vector<unsigned char> buffer;
    DWORD rc = ERROR_BUFFER_OVERFLOW;
    // Adapters may come and go between the sizing call and the listing.
    for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
      buffer.resize(size);
      rc = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (rc == ERROR_NO_DATA) return true;  // no adapter at all
    if (rc != ERROR_SUCCESS) return false;
    for (const IP_ADAPTER_INFO* entry = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data());
         entry != nullptr; entry = entry->Next) {
      AdapterInfo info;
      info.name = entry->AdapterName;
      info.description = entry->Description;
      info.type = entry->Type;
      const UINT length = entry->AddressLength < MAX_ADAPTER_ADDRESS_LENGTH
                              ? entry->AddressLength
                              : MAX_ADAPTER_ADDRESS_LENGTH;
      info.address.assign(entry->Address, entry->Address + length);
      for (const IP_ADDR_STRING* ip = &entry->IpAddressList; ip != nullptr; ip = ip->Next)
        info.ipAddresses.push_back(ip->IpAddress.String);
      if (info.ipAddresses.empty()) info.ipAddresses.push_back("0.0.0.0");
      adapters->push_back(std::move(info));
    }
    return true;
  } catch (...) {
    adapters->clear();
    return false;
  }
}

}  // namespace platform
