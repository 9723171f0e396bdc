// Network adapters from getifaddrs, with driver, alias and wireless facts from
// /sys/class/net.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <limits.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/SystemInfo.h"
#include "platform/posix/SystemFacts.h"

namespace platform {
namespace posix {

namespace {

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::string();
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
    line.pop_back();
  return line;
}

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

}  // namespace

std::string InterfaceDriver(const std::string& interfaceDir) {
  char target[PATH_MAX];
  ssize_t length = readlink((interfaceDir + "/device/driver").c_str(), target, sizeof(target) - 1);
  if (length > 0) {
    std::string link(target, static_cast<size_t>(length));
    size_t slash = link.rfind('/');
    return slash == std::string::npos ? link : link.substr(slash + 1);
  }
  std::ifstream uevent(interfaceDir + "/device/uevent");
  std::string line;
  while (std::getline(uevent, line)) {
    if (line.compare(0, 7, "DRIVER=") == 0) return line.substr(7);
  }
  return std::string();
}

std::string AdapterDescription(const std::string& name, const std::string& driver,
                               const std::string& alias) {
  std::string description = name;
  if (!driver.empty()) description += " (" + driver + ")";
  if (!alias.empty()) description += " - " + alias;
  return description;
}

}  // namespace posix

uint32_t AdapterTypeFromHardwareType(unsigned short arphrd, bool wireless) {
  switch (arphrd) {
    case ARPHRD_ETHER:
      return wireless ? kAdapterTypeIeee80211 : kAdapterTypeEthernet;
    case ARPHRD_IEEE80211:
    case ARPHRD_IEEE80211_PRISM:
    case ARPHRD_IEEE80211_RADIOTAP:
      return kAdapterTypeIeee80211;
    case ARPHRD_PPP:
      return kAdapterTypePpp;
    case ARPHRD_LOOPBACK:
      return kAdapterTypeLoopback;
    default:
      return kAdapterTypeOther;
  }
}

bool GetAdaptersInfo(std::vector<AdapterInfo>* adapters) {
  adapters->clear();
  struct ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;

  struct Entry {
    unsigned index = 0;
    bool loopback = false;
    bool hasLink = false;
    unsigned short arphrd = 0;
    AdapterInfo info;
  };
  std::map<std::string, Entry> byName;
  std::vector<std::string> order;  // first appearance, a tie-breaker for equal indexes
  auto entryFor = [&](const std::string& name) -> Entry& {
    auto it = byName.find(name);
    if (it == byName.end()) {
      it = byName.emplace(name, Entry()).first;
      it->second.info.name = name;
      it->second.index = if_nametoindex(name.c_str());
      order.push_back(name);
    }
    return it->second;
  };

  for (struct ifaddrs* item = list; item != nullptr; item = item->ifa_next) {
    if (item->ifa_name == nullptr || item->ifa_addr == nullptr) continue;
    // An address label "eth0:1" belongs to the adapter "eth0".
    std::string name = item->ifa_name;
    size_t colon = name.find(':');
    if (colon != std::string::npos) name.resize(colon);
    Entry& entry = entryFor(name);
    if (item->ifa_flags & IFF_LOOPBACK) entry.loopback = true;
    if (item->ifa_addr->sa_family == AF_PACKET) {
      const auto* link = reinterpret_cast<const struct sockaddr_ll*>(item->ifa_addr);
      entry.hasLink = true;
      entry.arphrd = link->sll_hatype;
      if (link->sll_ifindex > 0) entry.index = static_cast<unsigned>(link->sll_ifindex);
      size_t length = std::min<size_t>(link->sll_halen, 8);
      entry.info.address.assign(link->sll_addr, link->sll_addr + length);
    } else if (item->ifa_addr->sa_family == AF_INET) {
      const auto* in = reinterpret_cast<const struct sockaddr_in*>(item->ifa_addr);
      char text[INET_ADDRSTRLEN] = {};
      if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text)) != nullptr)
        entry.info.ipAddresses.push_back(text);
    }
  }
  freeifaddrs(list);

  std::vector<Entry*> entries;
  for (const std::string& name : order) entries.push_back(&byName[name]);
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry* a, const Entry* b) { return a->index < b->index; });
  for (Entry* entry : entries) {
    if (entry->loopback || (entry->hasLink && entry->arphrd == ARPHRD_LOOPBACK)) continue;
    const std::string dir = "/sys/class/net/" + entry->info.name;
    const bool wireless = posix::Exists(dir + "/wireless") || posix::Exists(dir + "/phy80211");
    entry->info.type =
        entry->hasLink ? AdapterTypeFromHardwareType(entry->arphrd, wireless) : kAdapterTypeOther;
    entry->info.description = posix::AdapterDescription(
        entry->info.name, posix::InterfaceDriver(dir), posix::FirstLine(dir + "/ifalias"));
    // An adapter without an IPv4 address shows the all-zero one, as Windows lists it.
    if (entry->info.ipAddresses.empty()) entry->info.ipAddresses.push_back("0.0.0.0");
    adapters->push_back(std::move(entry->info));
  }
  return true;
}

}  // namespace platform
