#include "host/RuntimeContext.h"

#include <algorithm>
#include <boost/make_shared.hpp>

namespace orsahost {

bool MatchesNamePattern(const std::string& pattern, const std::string& name) {
  if (pattern.empty()) return true;
  // Greedy match with one back-tracking point: the last "*" seen absorbs one
  // more character whenever the rest fails. Linear in practice, no recursion.
  size_t p = 0, n = 0;
  size_t star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++p;
      ++n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool RuntimeContext::registerObject(const std::string& name,
                                    const std::vector<std::string>& typeNames,
                                    const orsa::IOrsaObjectPtr& object, Owner owner) {
  if (!object || name.empty()) return false;
  std::vector<std::string> types;
  for (const std::string& t : typeNames)
    if (!t.empty() && std::find(types.begin(), types.end(), t) == types.end()) types.push_back(t);
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Entry& e : entries_)
    if (e.name == name) return false;
  entries_.push_back(Entry{name, std::move(types), object, owner});
  return true;
}

bool RuntimeContext::unregisterObject(const std::string& name) {
  orsa::IOrsaObjectPtr released;  // dropped after the lock: a destructor may call back in
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->name == name) {
      released = it->object;
      entries_.erase(it);
      return true;
    }
  }
  return false;
}

std::vector<orsa::IOrsaObjectPtr> RuntimeContext::removeObjectsOf(Owner owner) {
  std::vector<orsa::IOrsaObjectPtr> removed;
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = entries_.size(); i-- > 0;) {
    if (entries_[i].owner == owner) {
      removed.push_back(entries_[i].object);
      entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  return removed;
}

void RuntimeContext::clear() {
  std::vector<Entry> entries;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    entries.swap(entries_);
  }
  // Newest first, outside the lock, so an object's destructor may still look
  // up the services registered before it.
  while (!entries.empty()) entries.pop_back();
}

std::vector<std::string> RuntimeContext::names() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const Entry& e : entries_) out.push_back(e.name);
  return out;
}

orsa::IOrsaObjectPtr RuntimeContext::getObject(const std::string& name, int) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Entry& e : entries_)
    if (e.name == name) return e.object;
  return orsa::IOrsaObjectPtr();
}

orsa::OrsaObjectArrayPtr RuntimeContext::getObjects(const std::string& typeName,
                                                    const std::string& namePattern, int) {
  std::vector<orsa::IOrsaObjectPtr> found;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Entry& e : entries_) {
      if (std::find(e.typeNames.begin(), e.typeNames.end(), typeName) == e.typeNames.end())
        continue;
      if (MatchesNamePattern(namePattern, e.name)) found.push_back(e.object);
    }
  }
  auto array = boost::make_shared<orsa::OrsaObjectArray>(static_cast<uint32_t>(found.size()));
  for (size_t i = 0; i < found.size(); ++i) (*array)[static_cast<uint32_t>(i)] = found[i];
  return array;
}

}  // namespace orsahost
