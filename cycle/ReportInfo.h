#pragma once
// The report file reportInfo.xml: records for the management server wait here
// until an upload of their type is acknowledged. The file is plain XML, root
// `message`, one `map` element per record carrying at least `type` and `id`.
//
// Threads: used only by the worker thread of the patch cycle; no locking.
// Failures: every int result is 1 for success and -1 for failure; nothing is
// logged except that an unreadable file is kept aside (one warning on channel
// "OBXConsole", source "ReportInfo"). No exception leaves these operations
// apart from allocation failures.
#include <cstddef>
#include <string>
#include <vector>

class TiXmlElement;

namespace obx {

// The most records one upload carries.
constexpr size_t kMaxRecordsPerUpload = 500;

// Record types that are uploaded, and the server operation carrying each.
extern const char* const kInstallResultInfo;  // "installResultInfo" -> uploadExecuteResult
extern const char* const kVersionInfo;        // "versionInfo" -> uploadExecuteStatus

// The report file's Windows-style path: InstallPath of the module key, read
// afresh, + "\reportInfo.xml"; "reportInfo.xml" alone when InstallPath is empty.
std::string ReportFilePath();

// One new record of the task runner: the task it belongs to, and its text
// (one `map` element).
struct ReportRecord {
  std::string id;
  std::string text;
};

// Made for one use and dropped after it. Texts are parsed as UTF-8; records
// move between file and memory in TinyXML's compact printing, and the file is
// written in its standard indented form, always replaced atomically.
class ReportInfo {
 public:
  // Takes the path from ReportFilePath() at construction.
  ReportInfo();
  const std::string& Path() const { return path_; }

  // True when the file loads and its root element has a child. A missing or
  // unloadable file (also one beyond the bounds of platform/XmlLimits.h) is
  // reset to "<message/>" (false); an unloadable non-empty file is first
  // renamed to Path() + ".unreadable-<YYYYMMDDhhmmss>" so that its content
  // stays available.
  bool HasRecords();
  // `out` = compact text of the root element; -1 and "" when HasRecords is false.
  int ReadRecords(std::string& out);
  // Replaces the file with the document parsed from `text`. A text that does
  // not parse, is beyond those bounds, or would not read back from the file
  // (bytes that are not UTF-8), gives -1 and leaves the file untouched.
  int WriteRecords(const std::string& text);
  // Appends one record (the text of one `map` element) as the root's last
  // child. When the file's records would not read back once rewritten, they
  // are kept aside as an unreadable file is, and the record begins a new file.
  int AddRecord(const std::string& record);
  // Remove the first `map` with that `type` (and `id`); exact, case-sensitive;
  // the file is rewritten also when nothing matched, and the result is that
  // write's. 1 without writing when there are no records at all.
  int RemoveRecord(const std::string& type, const std::string& id);
  int RemoveFirstOfType(const std::string& type);
  // `out` = the compact texts of all records of `type`, concatenated. -1 when
  // none matched.
  int CollectByType(const std::string& type, std::string& out);
  // Seals "<message>" + the records of `type` + "</message>" with the
  // passphrase and sends it with the type's operation: all of them, up to
  // kMaxRecordsPerUpload (the oldest first), so that a backlog never grows
  // past what a server takes in one call. 1 only when the server
  // answered "true"; -1 for no records, an unknown type, a seal that gave
  // nothing, or any exception while sealing or calling (caught here, not
  // logged). Records are never removed here.
  int UploadByType(const std::string& type);

  // Uploads the records of `type` in calls of at most kMaxRecordsPerUpload
  // until none is left, a call fails, or the worker is asked to quit; then
  // the records the server acknowledged leave the file, in one write. (All of
  // them: a record left behind would be sent again with every later upload
  // of its type.) The last call's result; -1 when there was nothing to send.
  int UploadAllOfType(const std::string& type);

  // Hands new records of `type` over: an earlier record of that type with the
  // id of a new one leaves the file, the new ones are appended in their order,
  // all in one write that is on disk before anything is sent; then the
  // records of the type are uploaded (UploadAllOfType). -1 when the records could not be stored
  // (nothing is sent then), else 1: an upload that fails leaves them for the next attempt.
  int HandOver(const std::string& type, const std::vector<ReportRecord>& records);

 private:
  // Replaces the file with `fileText` (unless it holds that already); 1 or -1.
  int Store(const std::string& fileText);
  int RemoveFirst(const std::string& type, const std::string* id);
  // CollectByType, stopping after `limit` records.
  int Collect(const std::string& type, size_t limit, std::string& out);
  // Seals "<message>" + `records` + "</message>" and sends it with the
  // operation of `type`; as UploadByType.
  int Send(const std::string& type, const std::string& records);
  // UploadAllOfType over the records under `root`, which hold the file's.
  int UploadAll(const std::string& type, TiXmlElement& root);
  void KeepUnreadableAside(const std::string& nativePath);

  std::string path_;
};

// The cycle step: uploads pending "installResultInfo" then "versionInfo"
// records (UploadAllOfType). Returns nothing; failures leave the records for the next
// cycle.
void UploadReports();

}  // namespace obx
