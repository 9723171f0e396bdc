#include "foundation/PatchPolicyManager.h"

#include <tinyxml.h>

#include <algorithm>
#include <exception>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "foundation/Cipher.h"
#include "foundation/Log.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "text/XmlLimits.h"

namespace obx {

namespace {

const char kChannel[] = "OBXConsole";
const char kSource[] = "PatchPolicyManager";

// Parses `text` into `doc`; false, with `doc` empty, for a text beyond the
// bounds of outside XML or one the parser reports an error in (the parser
// keeps what it read before the error, an unclosed root say, which must not
// pass for the whole document).
bool ParseDocument(const std::string& text, TiXmlDocument& doc) {
  if (textutil::XmlWithinLimits(text, textutil::XmlEncoding::kDetect)) {
    doc.SetTabSize(0);  // no row and column tracking: nothing reads them
    doc.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    if (!doc.Error()) return true;
  }
  doc.Clear();
  return false;
}

std::mutex& ParseCountLock() {
  static std::mutex lock;
  return lock;
}

std::unordered_map<std::string, unsigned long>& ParseCounts() {
  static std::unordered_map<std::string, unsigned long> counts;
  return counts;
}

}  // namespace

unsigned long PatchPolicyManager::ParsesOf(const std::string& path) {
  std::lock_guard<std::mutex> hold(ParseCountLock());
  const auto found = ParseCounts().find(path);
  return found == ParseCounts().end() ? 0 : found->second;
}

PatchPolicyManager::PatchPolicyManager() = default;
PatchPolicyManager::~PatchPolicyManager() = default;

bool PatchPolicyManager::Reload(const std::string& path, bool create) {
  // The file's bytes, not its stamp, tell: a rewrite in place of the same
  // size within the file system's time granularity keeps the stamp.
  std::string now;
  if (!matchesFile_ || unsaved_ || batchDepth_ > 0 || !document_ || path != filePath_ ||
      platform::ReadFileToString(filePath_, &now) != platform::kErrorSuccess || now != sealed_)
    return Load(path, create);
  policyIds.clear();
  version_.clear();
  return TakeDocument();
}

bool PatchPolicyManager::Load(const char* path, bool create) {
  filePath_.clear();
  index_.clear();
  unsaved_ = false;
  matchesFile_ = false;
  sealed_.clear();
  document_.reset(new TiXmlDocument());
  if (path == nullptr) return false;
  filePath_ = path;
  policyIds.clear();
  version_.clear();

  std::string plain;
  if (ReadAndOpen(plain)) {
    {
      std::lock_guard<std::mutex> hold(ParseCountLock());
      ++ParseCounts()[filePath_];
    }
    // A text that is not XML counts as a document without `patchs`. The
    // parser keeps what it read before the error (an unclosed root, say), so
    // that part is dropped rather than taken for the whole document. A text
    // nested beyond the bounds (left by a version that stored answers
    // unchecked) is never parsed: it counts as not XML.
    ParseDocument(plain, *document_);
    matchesFile_ = true;
    return TakeDocument();
  }
  if (!create) return false;
  document_->LinkEndChild(new TiXmlElement("patchs"));
  return Save();
}

bool PatchPolicyManager::TakeDocument() {
  Reindex();
  TiXmlElement* root = Root();
  if (root == nullptr) return false;
  const char* version = root->Attribute("version");
  version_ = version ? version : "";
  TiXmlElement* entry = root->FirstChildElement("patch");
  if (entry == nullptr) return false;
  // Every element after the first `patch` counts, whatever its name, so a
  // stray element carrying a `policyid` is seen as an entry.
  for (; entry != nullptr; entry = entry->NextSiblingElement()) {
    const char* id = entry->Attribute("policyid");
    if (id != nullptr) policyIds.insert(id);
  }
  return true;
}

bool PatchPolicyManager::ReadAndOpen(std::string& plain) {
  plain.clear();
  if (filePath_.empty()) return false;
  // Missing, a folder in its place, or unreadable: no document.
  if (platform::ReadFileToString(filePath_, &sealed_) != platform::kErrorSuccess) return false;
  std::string sealed = sealed_;
  // The sealed text never holds a NUL; anything after one is not part of it.
  const std::string::size_type nul = sealed.find('\0');
  if (nul != std::string::npos) sealed.resize(nul);
  try {
    DecryptText(kPassphrase, plain, sealed);
  } catch (...) {
    plain.clear();
    OBX_ERROR(kChannel, kSource, "De policy file failed");
  }
  return !plain.empty();
}

TiXmlElement* PatchPolicyManager::Root() const {
  return document_ ? document_->FirstChildElement("patchs") : nullptr;
}

TiXmlElement* PatchPolicyManager::FindEntry(const std::string& id) const {
  auto found = index_.find(id);
  return found == index_.end() || found->second.empty() ? nullptr : found->second.front();
}

void PatchPolicyManager::Reindex() {
  index_.clear();
  TiXmlElement* root = Root();
  if (root == nullptr) return;
  for (TiXmlElement* entry = root->FirstChildElement("patch"); entry != nullptr;
       entry = entry->NextSiblingElement()) {
    if (const char* id = entry->Attribute("policyid")) index_[id].push_back(entry);
  }
}

std::string PatchPolicyManager::GetAttribute(const std::string& id, const char* element,
                                             const char* attribute) const {
  if (element == nullptr || attribute == nullptr) return "";
  auto found = index_.find(id);
  if (found == index_.end()) return "";
  // Unlike the writers, readers go on past an entry with the id that lacks
  // the element, so a later duplicate entry can answer.
  for (const TiXmlElement* entry : found->second) {
    const TiXmlElement* child = entry->FirstChildElement(element);
    if (child == nullptr) continue;
    const char* value = child->Attribute(attribute);
    return value ? value : "";
  }
  return "";
}

bool PatchPolicyManager::SetAttribute(const std::string& id, const char* element,
                                      const char* attribute, const char* value) {
  if (element == nullptr && attribute == nullptr && value == nullptr) return false;
  TiXmlElement* root = Root();
  if (root == nullptr) return false;

  if (TiXmlElement* entry = FindEntry(id)) {
    if (element == nullptr) return true;
    TiXmlElement* child = entry->FirstChildElement(element);
    if (child == nullptr) {
      child = new TiXmlElement(element);
      entry->LinkEndChild(child);
    }
    if (attribute != nullptr) child->SetAttribute(attribute, value ? value : "");
    return Save();
  }

  auto* entry = new TiXmlElement("patch");
  root->LinkEndChild(entry);
  entry->SetAttribute("policyid", id);
  // The walk starts at the first `patch`, so an entry added last is always in it.
  index_[id].push_back(entry);
  if (element != nullptr) {
    auto* child = new TiXmlElement(element);
    entry->LinkEndChild(child);
    if (attribute != nullptr && value != nullptr) child->SetAttribute(attribute, value);
  }
  return Save();
}

bool PatchPolicyManager::RemovePatch(const std::string& id) {
  TiXmlElement* entry = FindEntry(id);
  if (entry == nullptr) return false;
  std::vector<TiXmlElement*>& same = index_[id];
  same.erase(same.begin());
  if (same.empty()) index_.erase(id);
  // When the walk's first `patch` goes, it starts at the next `patch`: the
  // other elements in between leave it.
  if (entry == Root()->FirstChildElement("patch")) {
    for (TiXmlElement* gap = entry->NextSiblingElement();
         gap != nullptr && gap->ValueStr() != "patch"; gap = gap->NextSiblingElement()) {
      const char* gapId = gap->Attribute("policyid");
      if (gapId == nullptr) continue;
      std::vector<TiXmlElement*>& entries = index_[gapId];
      entries.erase(std::find(entries.begin(), entries.end(), gap));
      if (entries.empty()) index_.erase(gapId);
    }
  }
  entry->Clear();
  Root()->RemoveChild(entry);
  return Save();
}

bool PatchPolicyManager::Batch::End() {
  if (ended_) return true;
  ended_ = true;
  if (--store_.batchDepth_ > 0 || !store_.unsaved_) return true;
  return store_.Write();
}

void PatchPolicyManager::Batch::Discard() {
  if (ended_) return;
  ended_ = true;
  if (--store_.batchDepth_ == 0) store_.unsaved_ = false;
}

bool PatchPolicyManager::Batch::Flush() {
  if (ended_ || !store_.unsaved_) return true;
  return store_.Write();
}

bool PatchPolicyManager::Save() {
  if (filePath_.empty() || !document_) return false;
  matchesFile_ = false;  // until the change is written
  if (batchDepth_ > 0) {
    unsaved_ = true;
    return true;
  }
  return Write();
}

bool PatchPolicyManager::Write() {
  unsaved_ = false;
  TiXmlPrinter printer;  // four blanks per level, "\n" line breaks
  document_->Accept(&printer);
  // TinyXML prints some texts it was given (a planted file's odd encodings
  // and constructs) in a form it cannot read back; such a document is never
  // stored, so the file always loads.
  TiXmlDocument check;
  if (!ParseDocument(printer.Str(), check)) {
    OBX_ERROR(kChannel, kSource, "document does not read back as printed, not written");
    return false;
  }
  std::string sealed;
  try {
    EncryptText(kPassphrase, sealed, printer.CStr(), printer.Size());
  } catch (...) {
    sealed.clear();
    OBX_ERROR(kChannel, kSource, "Encrpt policy file failed");
  }
  if (sealed.empty()) return false;
  // Written beside the target and renamed over it, so a process killed at any
  // instant leaves the old or the new document, never a part of one.
  if (!platform::ReplaceFileAtomically(platform::NativePath(filePath_), sealed)) return false;
  sealed_ = std::move(sealed);
  matchesFile_ = true;
  return true;
}

}  // namespace obx
