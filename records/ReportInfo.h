#pragma once
// The report file reportInfo.xml: records for the management server wait here
// until an upload of their type is acknowledged. The file is plain XML, root
// `message`, one `map` element per record carrying at least `type` and `id`.
//
// Threads: used only by the worker thread of the patch cycle; no locking.
// Failures: every int result is 1 for success and -1 for failure; nothing is
// logged except that an unreadable file, or a record that cannot be stored
// or that the server refused, is kept aside (one warning each on channel
// "OBXConsole", source "ReportInfo"). No exception leaves these operations
// apart from allocation failures.
#include <cstddef>
#include <string>
#include <vector>

class TiXmlDocument;
class TiXmlElement;

namespace obx {

// The bounds of one upload: records, and their bytes and markup (the '<' and
// '=' the server counts), kept below what the server takes by default (a
// body of 8 MiB, 2001 x 128 markup characters), so that only a server
// configured tighter ever refuses an upload for its size. A record beyond
// the byte or markup bound still goes, alone. The record count also bounds
// how long one call keeps a stop waiting: the server's answer to 250 records
// comes within about 30 ms even from a debugging build.
constexpr size_t kMaxRecordsPerUpload = 250;
constexpr size_t kMaxUploadBytes = size_t{4} << 20;
constexpr size_t kMaxUploadMarkup = 256000;
// Records refused alone, in a run in which the server accepted nothing, after
// which the run stops.
constexpr size_t kMaxUnconfirmedRefusals = 3;

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

// What became of a handed-over record.
enum class HandOverResult {
  kStored,     // in the report file
  kKeptAside,  // could not be stored, its text appended to the aside file
  kNotStored,  // neither (the file could not be written): make it again later
};

// Made for one use and dropped after it. Texts are parsed as UTF-8; records
// move between file and memory in TinyXML's compact printing, and the file is
// written in its standard indented form, always replaced atomically.
class ReportInfo {
 public:
  // Takes the path from ReportFilePath() at construction.
  ReportInfo();
  const std::string& Path() const { return path_; }

  // True when the file loads and its root element has a child, once the note
  // of records that left it at a stop is applied (see UploadAllOfType). A
  // missing or unloadable file (also one beyond the bounds of
  // text/XmlLimits.h) is reset to "<message/>" (false); an unloadable
  // non-empty file is first renamed to Path() + ".unreadable-<YYYYMMDDhhmmss>"
  // so that its content stays available. Every operation below reads the
  // file this way, once.
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

  // Uploads the records of `type`, the oldest first, in calls within the
  // bounds of one upload (above), until none is left, a call gets no answer, or the worker is
  // asked to quit. A call the server refuses (an answer other than "true") is
  // split in halves, down to single records, so that the records around a
  // refused one still go. A record refused alone is kept aside (see
  // HandOver) once the server has accepted another call of the same run,
  // which shows the refusal is the record's; until then it moves behind the
  // other records of its type, and after kMaxUnconfirmedRefusals such records
  // the run stops (a server that refuses everything costs a few calls, not
  // one per record). The acknowledged and kept-aside records leave the file
  // in one write; after a quit request in a note beside it instead (NoteLeft),
  // which the next load applies. 1 when no record of the type is left in the file; -1 when
  // there was nothing to send or some are left.
  int UploadAllOfType(const std::string& type);

  // Hands new records of `type` over: an earlier record of that type with the
  // id of a new one leaves the file, the new ones are appended in their order,
  // all in one write that is on disk before anything is sent; then the
  // records of the type are uploaded (UploadAllOfType). A record that would
  // not parse or not read back from the file is kept aside alone: its text is
  // appended to Path() + ".aside" with one warning naming its type and id.
  // A quit request of the worker ends it early: records not yet written are
  // kNotStored, and written ones wait in the file for the next upload.
  // The answer holds the fate of each record, in their order.
  std::vector<HandOverResult> HandOver(const std::string& type,
                                       const std::vector<ReportRecord>& records);

 private:
  // Replaces the file with `fileText` (unless it holds that already); 1 or -1.
  int Store(const std::string& fileText);
  int RemoveFirst(const std::string& type, const std::string* id);
  // CollectByType, stopping after `limit` records.
  int Collect(const std::string& type, size_t limit, std::string& out);
  // Seals "<message>" + `records` + "</message>" and sends it with the
  // operation of `type`: 1 when the server answered "true", 0 when it
  // answered anything else (refused), -1 when there was no answer or nothing
  // could be sent.
  int Send(const std::string& type, const std::string& records);
  // UploadAllOfType over the records under `root`, which hold the file's.
  int UploadAll(const std::string& type, TiXmlElement& root);
  void KeepUnreadableAside(const std::string& nativePath);
  // The file's records into `doc` (root `message`). A file whose records
  // would not read back is kept aside and reset; `doc` then holds none.
  void LoadRecords(TiXmlDocument& doc);
  // Writes the records under `root`. When some would not read back once
  // written, the file is kept aside and those records are left out.
  int StoreRecords(TiXmlElement& root);
  // At a stop, the records that left the file (acknowledged or kept aside)
  // are noted beside it, a line of type and hash of compact text each,
  // instead of the whole file being rewritten; false when the note could not
  // be written.
  bool NoteLeft(const std::string& type, const std::vector<std::string>& hashes);
  // Takes the noted records out of `root`, the file's, one per line of the
  // note, and writes the file; the note goes once that write succeeded.
  void ApplyLeftNote(TiXmlElement& root);
  // Appends one record's text to the aside file, with one warning naming
  // `why`, its type and id. False when that file could not be written.
  bool SetAside(const std::string& type, const std::string& id, const std::string& text,
                const char* why);

  std::string path_;
};

// The cycle step: uploads pending "installResultInfo" then "versionInfo"
// records (UploadAllOfType). Returns nothing; failures leave the records for the next
// cycle.
void UploadReports();

}  // namespace obx
