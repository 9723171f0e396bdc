#pragma once
// Where obx-server keeps the uploaded records and its machine inventory: a
// SQLite file (ReportDatabase, the default for one server) or a PostgreSQL
// database that several servers share (PgReportDatabase).
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/obx-server/ReportRecords.h"

namespace obxserver {

struct ReportRow {
  long long seq = 0;      // order of arrival
  std::string time;       // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  std::string operation;  // "uploadExecuteStatus" or "uploadExecuteResult"
  std::string type;
  std::string id;
  std::string record;
  std::string computerCode;  // the record's `computer_code` item; "" without one
};

// One machine as its policy requests and records describe it.
struct MachineRow {
  std::string computerCode;
  std::string host;      // from its latest record carrying `host`
  std::string userName;  // as the latest policy request sent them
  std::string os;
  std::string address;      // the request's source address
  std::string heldVersion;  // the policy version it said it holds
  std::string sentVersion;  // the version of the last policy sent to it
  std::string group;        // the group that chose its policy; "" for none
  std::string policyFile;   // the policy file chosen for it, "" for none
  std::string firstSeen;    // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  std::string lastSeen;
  long long policyRequests = 0;
};

// What one policy request says about the machine that made it.
struct PolicyRequestSeen {
  std::string computerCode, userName, os, address, heldVersion;
  std::string group, policyFile, policyVersion;
  bool delivered = false;  // the answer carried the policy
};

// Threads: every operation may be called from any thread. Failures:
// std::runtime_error with the database's text.
class ReportStore {
 public:
  virtual ~ReportStore() = default;
  // Stores all records of one upload: all rows or none, durable when it
  // returns. The records also update their machines (host name, last seen).
  virtual void Add(const std::string& operation, const std::vector<ReportRecord>& records) = 0;
  // Records a policy request in the machine's row (created on first sight),
  // durably, like Add.
  virtual void SeePolicyRequest(const PolicyRequestSeen& request) = 0;
  // Every row in order of arrival.
  virtual std::vector<ReportRow> All() = 0;
  // The rows whose `computer_code` is `code`, or whose record id is `id`
  // (either may be "": no condition), in order of arrival.
  virtual std::vector<ReportRow> Find(const std::string& code, const std::string& id) = 0;
  // Every machine, ordered by computer code; none in a database made before
  // the inventory existed.
  virtual std::vector<MachineRow> Machines() = 0;
  // The host name the machine's records gave, "" when none did.
  virtual std::string HostOf(const std::string& code) = 0;
};

// A PostgreSQL connection string ("postgresql://..." or "postgres://...")
// opens PgReportDatabase, anything else names a SQLite file. Throws
// std::runtime_error when the database cannot be opened.
std::unique_ptr<ReportStore> OpenReportStore(const std::string& db, bool readOnly);
bool IsPostgresUrl(const std::string& db);

// The record's `computer_code` item, trailing white space dropped (some
// Base64 encoders end the code with a line break; the machine is the same).
std::string RecordComputerCode(const std::map<std::string, std::string>& items);
// The current UTC time as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcNow();

}  // namespace obxserver
