#pragma once
// The read-only web console of obx-server: the fleet (machines, last seen,
// policy, tasks done, failed and pending), one task across the machines, and
// one machine's records. Pages are written on the server as HTML with plain
// CSS and inline SVG; nothing runs in the browser and nothing is fetched from
// elsewhere. Every table sorts and filters through the page's query and
// exports what it shows as CSV (?csv=TABLE).
#include <memory>
#include <string>

#include "tools/obx-server/ConsolePassword.h"
#include "tools/obx-server/ConsoleTable.h"
#include "tools/obx-server/HttpReply.h"
#include "tools/obx-server/HttpRequest.h"
#include "tools/obx-server/PolicyStore.h"
#include "tools/obx-server/ReportStore.h"

namespace obxserver {

struct ConsoleOptions {
  // A machine not seen for longer is marked on the fleet page.
  double staleDays = 7;
  // When set, every request needs HTTP Basic credentials it accepts.
  std::shared_ptr<ConsolePassword> password;
};

// A task's outcome on one machine, from the `r1` text of the machine's
// latest "installResultInfo" record for it: failed when the text is
// "unknown" (nothing was written) or holds "fail", "error", "cancel" or
// "running" (never finished), ignoring letter case; done otherwise.
bool ResultFailed(const std::string& r1);

// Threads: Handle runs on several worker threads at once.
class Console {
 public:
  Console(ReportStore& reports, const PolicyStore& policies, ConsoleOptions options);
  HttpReply Handle(HttpRequest& request);

 private:
  HttpReply Route(const std::string& path, const std::string& query);
  HttpReply Fleet(const ConsoleQuery& query);
  HttpReply Task(const ConsoleQuery& query);
  HttpReply Machine(const ConsoleQuery& query);

  ReportStore& reports_;
  const PolicyStore& policies_;
  ConsoleOptions options_;
};

}  // namespace obxserver
