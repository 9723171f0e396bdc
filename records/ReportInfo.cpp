#include "records/ReportInfo.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Cipher.h"
#include "foundation/Log.h"
#include "foundation/SettingsStore.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "platform/StopToken.h"
#include "records/ReportFileText.h"
#include "server/OBXWebService.h"

namespace obx {

const char* const kInstallResultInfo = "installResultInfo";
const char* const kVersionInfo = "versionInfo";

namespace {

const char* const kReportFileName = "reportInfo.xml";
const char* const kEmptyReport = "<message/>";
// Appended to the report file's path: the file of records kept aside.
const char* const kAsideSuffix = ".aside";
// Appended to the report file's path: the note of records that left the
// file at a stop, one line each: type, a tab, the hash of its compact text.
const char* const kLeftSuffix = ".left";

// FNV-1a, 64 bits, in hex: names a record's text in the note of records
// that left the file.
std::string TextHash(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  for (const unsigned char* end = p + text.size(); p != end; ++p) {
    hash ^= *p;
    hash *= 1099511628211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

bool LoadInto(TiXmlDocument& doc, const std::string& nativePath) {
  std::string text;
  return platform::ReadFileToString(nativePath, &text) == platform::kErrorSuccess &&
         ParseReportFile(doc, text);
}

// A record matches a type exactly, case-sensitively; one without the
// attribute matches none.
bool HasType(const TiXmlElement& map, const std::string& type) {
  const char* mapType = map.Attribute("type");
  return mapType != nullptr && type == mapType;
}

std::string TimeStamp() {
  return platform::FormatLocalTime(platform::GetLocalTime(), "%04d%02d%02d%02d%02d%02d");
}

}  // namespace

std::string ReportFilePath() {
  const std::string installPath = ReadRegString(HKLM, kModuleKey, "InstallPath");
  if (installPath.empty()) return kReportFileName;
  return installPath + "\\" + kReportFileName;
}

ReportInfo::ReportInfo() : path_(ReportFilePath()) {}

void ReportInfo::KeepUnreadableAside(const std::string& nativePath) {
  platform::FileInfo info;
  // A missing or empty file holds nothing worth keeping.
  if (platform::GetFileInfo(nativePath, &info) != platform::kErrorSuccess || info.size == 0) return;
  const std::string suffix = ".unreadable-" + TimeStamp();
  std::string aside = suffix;
  for (int n = 1; platform::PathExists(nativePath + aside); ++n)
    aside = suffix + "-" + std::to_string(n);
  if (platform::RenameFile(nativePath, nativePath + aside) == platform::kErrorSuccess) {
    OBX_WARNING("OBXConsole", "ReportInfo",
                "report file is unreadable, kept as " << path_ << aside);
  } else {
    OBX_WARNING("OBXConsole", "ReportInfo",
                "report file is unreadable and could not be kept: " << path_);
  }
}

bool ReportInfo::HasRecords() {
  TiXmlDocument doc;
  LoadRecords(doc);
  return doc.RootElement()->FirstChild() != nullptr;
}

int ReportInfo::ReadRecords(std::string& out) {
  out.clear();
  TiXmlDocument doc;
  LoadRecords(doc);
  if (doc.RootElement()->FirstChild() == nullptr) return -1;
  out = CompactText(*doc.RootElement());
  return 1;
}

int ReportInfo::WriteRecords(const std::string& text) {
  std::string fileText;
  return FileTextFor(text, &fileText) ? Store(fileText) : -1;
}

int ReportInfo::Store(const std::string& fileText) {
  // A file that already holds exactly this text is saved as it is: no write
  // and no flush to disk for an operation that changed nothing.
  std::string current;
  if (platform::ReadFileToString(path_, &current) == platform::kErrorSuccess && current == fileText)
    return 1;
  return platform::ReplaceFileAtomically(platform::NativePath(path_), fileText) ? 1 : -1;
}

int ReportInfo::AddRecord(const std::string& record) {
  TiXmlDocument doc;
  LoadRecords(doc);
  TiXmlDocument recordDoc;
  if (!ParseAsUtf8(recordDoc, record) || recordDoc.RootElement() == nullptr) return -1;
  doc.RootElement()->InsertEndChild(*recordDoc.RootElement());
  std::string fileText;
  if (FileTextOf(*doc.RootElement(), &fileText)) return Store(fileText);
  // Refused although the record reads back alone: the file's own records
  // would not read back once rewritten. They are kept aside and the record
  // begins a new file, rather than this and every later record being refused.
  if (!FileTextFor("<message>" + record + "</message>", &fileText)) return -1;
  KeepUnreadableAside(platform::NativePath(path_));
  return Store(fileText);
}

int ReportInfo::RemoveFirst(const std::string& type, const std::string* id) {
  TiXmlDocument doc;
  LoadRecords(doc);
  TiXmlElement* root = doc.RootElement();
  if (root->FirstChild() == nullptr) return 1;
  for (TiXmlElement* map = root->FirstChildElement("map"); map != nullptr;
       map = map->NextSiblingElement("map")) {
    if (!HasType(*map, type)) continue;
    if (id != nullptr) {
      const char* mapId = map->Attribute("id");
      if (mapId == nullptr || *id != mapId) continue;
    }
    root->RemoveChild(map);
    break;
  }
  return StoreRecords(*root);
}

int ReportInfo::RemoveRecord(const std::string& type, const std::string& id) {
  return RemoveFirst(type, &id);
}

int ReportInfo::RemoveFirstOfType(const std::string& type) { return RemoveFirst(type, nullptr); }

int ReportInfo::CollectByType(const std::string& type, std::string& out) {
  return Collect(type, static_cast<size_t>(-1), out);
}

int ReportInfo::Collect(const std::string& type, size_t limit, std::string& out) {
  out.clear();
  TiXmlDocument doc;
  LoadRecords(doc);
  const TiXmlElement* root = doc.RootElement();
  if (root->FirstChild() == nullptr) return -1;
  size_t matched = 0;
  for (const TiXmlElement* map = root->FirstChildElement("map"); map != nullptr && matched < limit;
       map = map->NextSiblingElement("map")) {
    if (!HasType(*map, type)) continue;
    out += CompactText(*map);
    ++matched;
  }
  if (matched == 0) return -1;
  // Normalises the file; its result does not matter here.
  std::string fileText;
  if (FileTextOf(*root, &fileText)) Store(fileText);
  return 1;
}

int ReportInfo::UploadByType(const std::string& type) {
  std::string collected;
  if (Collect(type, kMaxRecordsPerUpload, collected) != 1 || collected.empty()) return -1;
  return Send(type, collected) == 1 ? 1 : -1;
}

int ReportInfo::Send(const std::string& type, const std::string& records) {
  try {
    const std::string payload = "<message>" + records + "</message>";
    std::string sealed;
    EncryptText(kPassphrase, sealed, payload.data(), payload.size());
    // Without the seal services there is nothing the server could open.
    if (sealed.empty()) return -1;
    OBXWebService service;
    std::string answer;
    if (type == kInstallResultInfo) {
      service.UploadExecuteResult(sealed, answer);
    } else if (type == kVersionInfo) {
      service.UploadExecuteStatus(sealed, answer);
    } else {
      return -1;
    }
    // The answer is set only when the server answered one non-empty text.
    if (answer.empty()) return -1;
    return answer == "true" ? 1 : 0;
  } catch (...) {
    return -1;
  }
}

int ReportInfo::UploadAll(const std::string& type, TiXmlElement& root) {
  struct Pending {
    TiXmlElement* map;
    std::string text;
    size_t markup;
  };
  std::vector<Pending> queue;
  for (TiXmlElement* map = root.FirstChildElement("map"); map != nullptr;
       map = map->NextSiblingElement("map")) {
    // Nothing is sent yet: after a stop the next start sends them all.
    if (queue.size() % 64 == 63 && platform::QuitRequested()) return -1;
    if (!HasType(*map, type)) continue;
    std::string text = CompactText(*map);
    const size_t markup = static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return c == '<' || c == '='; }));
    queue.push_back({map, std::move(text), markup});
  }
  if (queue.empty()) return -1;

  // Ranges [first, last) of the queue still to send; halves of a refused
  // call wait on `split`, the first half on top.
  using Range = std::pair<size_t, size_t>;
  std::vector<Range> split;
  size_t next = 0;
  bool accepted = false;
  std::vector<size_t> sent;
  std::vector<size_t> refused;
  for (bool first = true;; first = false) {
    Range range;
    if (!split.empty()) {
      range = split.back();
      split.pop_back();
    } else if (next < queue.size()) {
      // The next records within the bounds of one call; at least one.
      size_t bytes = 0;
      size_t markup = 0;
      range = {next, next};
      while (range.second < queue.size() && range.second - range.first < kMaxRecordsPerUpload) {
        const Pending& p = queue[range.second];
        if (range.second > range.first &&
            (bytes + p.text.size() > kMaxUploadBytes || markup + p.markup > kMaxUploadMarkup))
          break;
        bytes += p.text.size();
        markup += p.markup;
        ++range.second;
      }
      next = range.second;
    } else {
      break;
    }
    if (!first && platform::QuitRequested()) break;
    std::string records;
    for (size_t i = range.first; i < range.second; ++i) records += queue[i].text;
    const int result = Send(type, records);
    if (result == 1) {
      accepted = true;
      for (size_t i = range.first; i < range.second; ++i) sent.push_back(i);
      continue;
    }
    if (result < 0) break;
    if (range.second - range.first > 1) {
      const size_t middle = range.first + (range.second - range.first) / 2;
      split.push_back({middle, range.second});
      split.push_back({range.first, middle});
      continue;
    }
    refused.push_back(range.first);
    if (!accepted && refused.size() >= kMaxUnconfirmedRefusals) break;
  }

  // The records that leave the file: the acknowledged ones and those kept
  // aside. At a stop they are noted beside it instead of the whole file
  // being rewritten.
  const bool stopping = platform::QuitRequested();
  std::vector<size_t> left = sent;
  bool moved = false;
  for (size_t i : refused) {
    const char* id = queue[i].map->Attribute("id");
    if (accepted) {
      if (SetAside(type, id != nullptr ? id : "", queue[i].text, "refused by the server"))
        left.push_back(i);
    } else if (!stopping) {  // at a stop its place can wait for the next run
      // Not yet known to be the record's fault: it waits behind the other
      // records of its type, so that the next run sends them first.
      TiXmlElement* last = queue[i].map;
      for (TiXmlElement* map = last->NextSiblingElement("map"); map != nullptr;
           map = map->NextSiblingElement("map")) {
        if (HasType(*map, type)) last = map;
      }
      if (last == queue[i].map) continue;
      root.InsertAfterChild(last, *queue[i].map);
      root.RemoveChild(queue[i].map);
      moved = true;
    }
  }
  if (stopping && !left.empty()) {
    std::vector<std::string> hashes;
    for (size_t i : left) hashes.push_back(TextHash(queue[i].text));
    if (NoteLeft(type, hashes)) return left.size() == queue.size() ? 1 : -1;
  }
  // One write for all the calls: a crash before it only sends them again.
  for (size_t i : left) root.RemoveChild(queue[i].map);
  if (!left.empty() || moved) StoreRecords(root);
  for (const TiXmlElement* map = root.FirstChildElement("map"); map != nullptr;
       map = map->NextSiblingElement("map")) {
    if (HasType(*map, type)) return -1;
  }
  return 1;
}

int ReportInfo::UploadAllOfType(const std::string& type) {
  TiXmlDocument doc;
  LoadRecords(doc);
  return UploadAll(type, *doc.RootElement());
}

void ReportInfo::LoadRecords(TiXmlDocument& doc) {
  const std::string nativePath = platform::NativePath(path_);
  if (LoadInto(doc, nativePath)) {
    ApplyLeftNote(*doc.RootElement());
    return;
  }
  // Every later write would fail on records that do not read back.
  KeepUnreadableAside(nativePath);
  WriteRecords(kEmptyReport);
  doc.Clear();
  ParseAsUtf8(doc, kEmptyReport);
}

bool ReportInfo::NoteLeft(const std::string& type, const std::vector<std::string>& hashes) {
  const std::string notePath = platform::NativePath(path_ + kLeftSuffix);
  std::string note;
  platform::ReadFileToString(notePath, &note);
  for (const std::string& hash : hashes) note += type + "\t" + hash + "\n";
  return platform::ReplaceFileAtomically(notePath, note);
}

void ReportInfo::ApplyLeftNote(TiXmlElement& root) {
  const std::string notePath = platform::NativePath(path_ + kLeftSuffix);
  std::string note;
  if (platform::ReadFileToString(notePath, &note) != platform::kErrorSuccess) return;
  std::multiset<std::string> left;
  for (size_t start = 0; start < note.size();) {
    const size_t end = std::min(note.find('\n', start), note.size());
    left.insert(note.substr(start, end - start));
    start = end + 1;
  }
  bool removed = false;
  for (TiXmlElement* map = root.FirstChildElement("map"); map != nullptr && !left.empty();) {
    TiXmlElement* next = map->NextSiblingElement("map");
    const char* type = map->Attribute("type");
    const auto match =
        left.find(std::string(type != nullptr ? type : "") + "\t" + TextHash(CompactText(*map)));
    if (match != left.end()) {
      left.erase(match);
      root.RemoveChild(map);
      removed = true;
    }
    map = next;
  }
  // Until the file is written without them, the note stays.
  if (!removed || StoreRecords(root) == 1) platform::RemoveFile(notePath);
}

int ReportInfo::StoreRecords(TiXmlElement& root) {
  std::string fileText;
  if (FileTextOf(root, &fileText)) return Store(fileText);
  bool dropped = false;
  for (TiXmlNode* child = root.FirstChild(); child != nullptr;) {
    TiXmlNode* next = child->NextSibling();
    std::string alone;
    if (!FileTextFor("<message>" + CompactText(*child) + "</message>", &alone)) {
      root.RemoveChild(child);
      dropped = true;
    }
    child = next;
  }
  if (!dropped || !FileTextOf(root, &fileText)) return -1;
  KeepUnreadableAside(platform::NativePath(path_));
  return Store(fileText);
}

bool ReportInfo::SetAside(const std::string& type, const std::string& id, const std::string& text,
                          const char* why) {
  const std::string asidePath = path_ + kAsideSuffix;
  const std::string nativePath = platform::NativePath(asidePath);
  std::string kept;
  platform::ReadFileToString(nativePath, &kept);
  if (!platform::ReplaceFileAtomically(nativePath, kept + text + "\n")) {
    OBX_WARNING(
        "OBXConsole", "ReportInfo",
        "report record " << why << " and could not be kept aside: type " << type << " id " << id);
    return false;
  }
  OBX_WARNING("OBXConsole", "ReportInfo",
              "report record " << why << ", kept aside in " << asidePath << ": type " << type
                               << " id " << id);
  return true;
}

std::vector<HandOverResult> ReportInfo::HandOver(const std::string& type,
                                                 const std::vector<ReportRecord>& records) {
  std::vector<HandOverResult> results(records.size(), HandOverResult::kNotStored);
  if (records.empty()) return results;
  std::set<std::string> ids;
  for (const ReportRecord& record : records) ids.insert(record.id);
  TiXmlDocument doc;
  LoadRecords(doc);
  TiXmlElement* root = doc.RootElement();
  for (TiXmlElement* map = root->FirstChildElement("map"); map != nullptr;) {
    TiXmlElement* next = map->NextSiblingElement("map");
    const char* mapId = map->Attribute("id");
    if (HasType(*map, type) && mapId != nullptr && ids.count(mapId) != 0) {
      // One earlier record per id gives way, as RemoveRecord does.
      ids.erase(mapId);
      root->RemoveChild(map);
    }
    map = next;
  }
  // The batch joins the file with one parse of each record; each record is
  // checked alone only when the whole would not read back, so that one that
  // would not never takes the others with it.
  std::vector<TiXmlElement*> joined(records.size(), nullptr);
  bool any = false;
  // A stop does not wait for a large batch: what is not on disk yet stays
  // kNotStored, and its tasks report again after the next start.
  const auto stopped = [&results] {
    if (!platform::QuitRequested()) return false;
    for (HandOverResult& result : results) {
      if (result == HandOverResult::kStored) result = HandOverResult::kNotStored;
    }
    return true;
  };
  for (size_t i = 0; i < records.size(); ++i) {
    if (stopped()) return results;
    TiXmlDocument recordDoc;
    if (!ParseAsUtf8(recordDoc, records[i].text) || recordDoc.RootElement() == nullptr) {
      if (SetAside(type, records[i].id, records[i].text, "cannot be stored"))
        results[i] = HandOverResult::kKeptAside;
      continue;
    }
    joined[i] = root->InsertEndChild(*recordDoc.RootElement())->ToElement();
    results[i] = HandOverResult::kStored;
    any = true;
  }
  std::string fileText;
  if (any && !FileTextOf(*root, &fileText, /*stoppable=*/true)) {
    if (stopped()) return results;
    for (size_t i = 0; i < records.size(); ++i) {
      std::string alone;
      if (joined[i] == nullptr || FileTextFor("<message>" + records[i].text + "</message>", &alone))
        continue;
      root->RemoveChild(joined[i]);
      results[i] = SetAside(type, records[i].id, records[i].text, "cannot be stored")
                       ? HandOverResult::kKeptAside
                       : HandOverResult::kNotStored;
    }
    any = std::count(results.begin(), results.end(), HandOverResult::kStored) != 0;
    fileText.clear();
  }
  if (!any || stopped()) return results;
  if ((fileText.empty() ? StoreRecords(*root) : Store(fileText)) != 1) {
    for (HandOverResult& result : results) {
      if (result == HandOverResult::kStored) result = HandOverResult::kNotStored;
    }
    return results;
  }
  // Stored: after a stop the next start uploads them.
  if (!platform::QuitRequested()) UploadAll(type, *root);
  return results;
}

void UploadReports() {
  ReportInfo reports;
  reports.UploadAllOfType(kInstallResultInfo);
  reports.UploadAllOfType(kVersionInfo);
}

}  // namespace obx
