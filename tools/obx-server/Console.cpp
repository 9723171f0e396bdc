#include "tools/obx-server/Console.h"

#include <Poco/URI.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <map>
#include <set>
#include <vector>

#include "tools/obx-server/ConsoleTable.h"
#include "tools/obx-server/ReportRecords.h"

namespace obxserver {

using Poco::Net::HTTPResponse;

namespace {

const char kStyle[] =
    "body{font:14px/1.4 sans-serif;margin:0;color:#222;background:#fafafa}"
    "header{background:#234;color:#fff;padding:8px 16px}header a{color:#cde;margin-right:16px}"
    "h1{font-size:20px;margin:4px 0}h2{font-size:16px;margin:20px 0 6px}"
    "main{padding:8px 16px}table{border-collapse:collapse;background:#fff;margin-bottom:8px}"
    "th,td{border:1px solid #ccc;padding:3px 6px;text-align:left;vertical-align:top}"
    "th{background:#e8ecf0}th a{color:#123;text-decoration:none}"
    "td{max-width:48em;overflow-wrap:anywhere}"
    "tr.stale td{background:#fde8e8}tr.failed td{background:#fff1e0}"
    "form.filter{margin:6px 0}.count{color:#666}.legend span{margin-right:16px}"
    "footer{color:#888;padding:8px 16px;font-size:12px}dl{display:grid;"
    "grid-template-columns:max-content auto;gap:2px 12px}dt{font-weight:bold}dd{margin:0}"
    "table#c td:last-child{font:11px/1.3 monospace;color:#444;max-width:40em}";

const char* const kDone = "#2e7d32";
const char* const kFailed = "#c62828";
const char* const kMissing = "#9e9e9e";

std::string UtcText(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Item(const std::map<std::string, std::string>& items, const char* key) {
  auto it = items.find(key);
  return it == items.end() ? std::string() : it->second;
}

std::string MachineUrl(const std::string& code) { return ConsoleUrl("/machine", {{"code", code}}); }
std::string TaskUrl(const std::string& id) { return ConsoleUrl("/task", {{"id", id}}); }

HttpReply Html(const std::string& title, const std::string& body) {
  HttpReply reply;
  reply.head.setStatusAndReason(HTTPResponse::HTTP_OK);
  reply.head.setContentType("text/html; charset=utf-8");
  // Nothing but the page's own style: no script, no fetch from elsewhere.
  reply.head.set("Content-Security-Policy",
                 "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'");
  reply.head.set("X-Content-Type-Options", "nosniff");
  reply.head.set("Cache-Control", "no-store");
  reply.body = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
               HtmlEscape(title) + " - obx-server</title><style>" + kStyle +
               "</style></head>\n<body><header><nav><a href=\"/\">Fleet</a></nav><h1>" +
               HtmlEscape(title) + "</h1></header>\n<main>\n" + body + "</main><footer>Generated " +
               UtcText(std::time(nullptr)) + " by obx-server</footer></body></html>\n";
  return reply;
}

// The table the query names in `csv`, as CSV; nullptr-like empty reply when
// no table of the page has that name.
bool Csv(const std::vector<const ConsoleTable*>& tables, const ConsoleQuery& query,
         HttpReply& reply) {
  auto wanted = query.find("csv");
  if (wanted == query.end()) return false;
  for (const ConsoleTable* t : tables) {
    if (t->Name() != wanted->second) continue;
    reply.head.setStatusAndReason(HTTPResponse::HTTP_OK);
    reply.head.setContentType("text/csv; charset=utf-8");
    reply.head.set("Content-Disposition", "attachment; filename=\"" + t->Name() + ".csv\"");
    reply.head.set("X-Content-Type-Options", "nosniff");
    reply.body = t->Csv();
    return true;
  }
  reply = TextReply(HTTPResponse::HTTP_NOT_FOUND, "no such table");
  return true;
}

// Each machine's latest "installResultInfo" record per task.
struct Outcome {
  std::string time;
  std::map<std::string, std::string> items;
};
using Outcomes = std::map<std::string, std::map<std::string, Outcome>>;  // code -> id -> outcome

void Note(Outcomes& outcomes, const ReportRow& row) {
  if (row.type != "installResultInfo" || row.computerCode.empty()) return;
  outcomes[row.computerCode][row.id] = Outcome{row.time, RecordItems(row.record)};
}

// A horizontal bar of the three counts, with its legend.
std::string Bar(size_t done, size_t failed, size_t missing) {
  const double total = static_cast<double>(done + failed + missing);
  const int width = 600;
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
                    "\" height=\"28\" role=\"img\" aria-label=\"done " + std::to_string(done) +
                    ", failed " + std::to_string(failed) + ", not reported " +
                    std::to_string(missing) + "\">";
  double x = 0;
  const std::pair<size_t, const char*> parts[] = {
      {done, kDone}, {failed, kFailed}, {missing, kMissing}};
  const char* names[] = {"done", "failed", "not reported"};
  for (size_t i = 0; i < 3; ++i) {
    if (parts[i].first == 0 || total == 0) continue;
    const double w = width * static_cast<double>(parts[i].first) / total;
    char rect[200];
    std::snprintf(rect, sizeof rect,
                  "<rect class=\"%s\" x=\"%.1f\" y=\"0\" width=\"%.1f\" "
                  "height=\"28\" fill=\"%s\">",
                  i == 0   ? "done"
                  : i == 1 ? "failed"
                           : "missing",
                  x, w, parts[i].second);
    svg += std::string(rect) + "<title>" + names[i] + ": " + std::to_string(parts[i].first) +
           "</title></rect>";
    x += w;
  }
  if (total == 0) svg += "<rect width=\"600\" height=\"28\" fill=\"#eee\"/>";
  svg += "</svg>\n<p class=\"legend\">";
  for (size_t i = 0; i < 3; ++i) {
    svg += std::string(
               "<span><svg width=\"10\" height=\"10\"><rect width=\"10\" height=\"10\" "
               "fill=\"") +
           parts[i].second + "\"/></svg> " + names[i] + ": " + std::to_string(parts[i].first) +
           "</span>";
  }
  return svg + "</p>\n";
}

}  // namespace

bool ResultFailed(const std::string& r1) {
  std::string text = Lower(r1);
  const size_t first = text.find_first_not_of(" \t");
  text = first == std::string::npos ? ""
                                    : text.substr(first, text.find_last_not_of(" \t") + 1 - first);
  if (text == "unknown") return true;
  for (const char* word : {"fail", "error", "cancel", "running"}) {
    if (text.find(word) != std::string::npos) return true;
  }
  return false;
}

Console::Console(ReportStore& reports, const PolicyStore& policies, ConsoleOptions options)
    : reports_(reports), policies_(policies), options_(std::move(options)) {}

HttpReply Console::Handle(HttpRequest& request) {
  if (options_.password &&
      !options_.password->Accepts(request.head.get(Poco::Net::HTTPRequest::AUTHORIZATION, ""))) {
    HttpReply reply = TextReply(HTTPResponse::HTTP_UNAUTHORIZED, "credentials needed");
    reply.head.set("WWW-Authenticate", "Basic realm=\"obx-server console\", charset=\"UTF-8\"");
    return reply;
  }
  const std::string& method = request.head.getMethod();
  if (method != Poco::Net::HTTPRequest::HTTP_GET && method != Poco::Net::HTTPRequest::HTTP_HEAD) {
    HttpReply reply = TextReply(HTTPResponse::HTTP_METHOD_NOT_ALLOWED, "the console is read-only");
    reply.head.set("Allow", "GET, HEAD");
    return reply;
  }
  HttpReply reply;
  try {
    Poco::URI uri(request.head.getURI());
    reply = Route(uri.getPath(), uri.getRawQuery());
  } catch (const Poco::Exception&) {
    reply = TextReply(HTTPResponse::HTTP_BAD_REQUEST, "bad request");
  }
  if (method == Poco::Net::HTTPRequest::HTTP_HEAD) {
    reply.head.setContentLength64(static_cast<Poco::Int64>(reply.body.size()));
    reply.body.clear();
    reply.headOnly = true;
  }
  return reply;
}

HttpReply Console::Route(const std::string& path, const std::string& rawQuery) {
  ConsoleQuery query;
  Poco::URI parameters;
  parameters.setRawQuery(rawQuery);
  for (const auto& p : parameters.getQueryParameters()) query.emplace(p.first, p.second);
  if (path == "/") return Fleet(query);
  if (path == "/task") return Task(query);
  if (path == "/machine") return Machine(query);
  return TextReply(HTTPResponse::HTTP_NOT_FOUND, "not found");
}

HttpReply Console::Fleet(const ConsoleQuery& query) {
  const std::vector<MachineRow> machines = reports_.Machines();
  Outcomes outcomes;
  std::set<std::string> taskIds;
  for (const ReportRow& row : reports_.All()) {
    Note(outcomes, row);
    if (row.type == "installResultInfo") taskIds.insert(row.id);
  }
  const std::string cutoff =
      UtcText(std::time(nullptr) - static_cast<std::time_t>(options_.staleDays * 86400));
  ConsoleTable table("m", {"Computer code", "Host", "User", "OS", "Group", "Policy", "Holds",
                           "Sent", "Address", "Last seen", "Done", "Failed", "Pending", "State"});
  size_t stale = 0;
  for (const MachineRow& m : machines) {
    size_t done = 0;
    size_t failed = 0;
    size_t pending = 0;
    const auto& mine = outcomes[m.computerCode];
    for (const auto& o : mine) (ResultFailed(Item(o.second.items, "r1")) ? failed : done) += 1;
    for (const std::string& id : policies_.TaskIds(m.policyFile)) {
      taskIds.insert(id);
      if (!mine.count(id)) ++pending;
    }
    const bool old = m.lastSeen < cutoff;
    stale += old ? 1 : 0;
    ConsoleRow row;
    row.cssClass = old ? "stale" : "";
    row.cells = {{m.computerCode, MachineUrl(m.computerCode)},
                 {m.host},
                 {m.userName},
                 {m.os},
                 {m.group},
                 {m.policyFile},
                 {m.heldVersion},
                 {m.sentVersion},
                 {m.address},
                 {m.lastSeen},
                 {std::to_string(done)},
                 {std::to_string(failed)},
                 {std::to_string(pending)},
                 {old ? "stale" : "seen"}};
    table.Add(std::move(row));
  }
  table.Apply(query);
  HttpReply csv;
  if (Csv({&table}, query, csv)) return csv;
  char days[32];
  std::snprintf(days, sizeof days, "%g", options_.staleDays);
  std::string body = "<p class=\"summary\">" + std::to_string(machines.size()) + " machine" +
                     (machines.size() == 1 ? "" : "s") + "; " + std::to_string(stale) +
                     " not seen for more than " + days + " day" +
                     (options_.staleDays == 1 ? "" : "s") + " (marked).</p>\n";
  body += "<p class=\"tasks\">Tasks:";
  for (const std::string& id : taskIds) {
    body += " <a href=\"" + HtmlEscape(TaskUrl(id)) + "\">" + HtmlEscape(id) + "</a>";
  }
  if (taskIds.empty()) body += " none yet";
  body += "</p>\n<h2>Machines</h2>\n" + table.Html("/", query);
  return Html("Fleet", body);
}

HttpReply Console::Task(const ConsoleQuery& query) {
  auto found = query.find("id");
  if (found == query.end() || found->second.empty()) {
    return TextReply(HTTPResponse::HTTP_BAD_REQUEST, "task needs ?id=TASK");
  }
  const std::string& id = found->second;
  Outcomes outcomes;
  for (const ReportRow& row : reports_.Find("", id)) Note(outcomes, row);
  const std::vector<MachineRow> machines = reports_.Machines();
  std::map<std::string, const MachineRow*> byCode;
  for (const MachineRow& m : machines) byCode[m.computerCode] = &m;

  ConsoleTable reported(
      "r", {"Computer code", "Host", "Result", "r2", "r3", "r4", "r5", "Outcome", "Received"});
  std::map<std::string, std::pair<size_t, bool>> byResult;  // r1 -> machines, failed
  size_t done = 0;
  size_t failed = 0;
  for (const auto& o : outcomes) {
    auto result = o.second.find(id);
    if (result == o.second.end()) continue;
    const auto& items = result->second.items;
    const std::string r1 = Item(items, "r1");
    const bool bad = ResultFailed(r1);
    (bad ? failed : done) += 1;
    auto& group = byResult[r1];
    group.first += 1;
    group.second = bad;
    ConsoleRow row;
    row.cssClass = bad ? "failed" : "";
    row.cells = {{o.first, MachineUrl(o.first)},
                 {Item(items, "host")},
                 {r1},
                 {Item(items, "r2")},
                 {Item(items, "r3")},
                 {Item(items, "r4")},
                 {Item(items, "r5")},
                 {bad ? "failed" : "done"},
                 {result->second.time}};
    reported.Add(std::move(row));
  }
  // Machines whose policy holds the task and that have not reported it.
  ConsoleTable missing("n", {"Computer code", "Host", "Group", "Policy", "Last seen"});
  for (const MachineRow& m : machines) {
    const auto mine = outcomes.find(m.computerCode);
    if (mine != outcomes.end() && mine->second.count(id)) continue;
    const std::vector<std::string> ids = policies_.TaskIds(m.policyFile);
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) continue;
    missing.Add({{{m.computerCode, MachineUrl(m.computerCode)},
                  {m.host},
                  {m.group},
                  {m.policyFile},
                  {m.lastSeen}},
                 ""});
  }
  ConsoleTable results("g", {"Result", "Outcome", "Machines"});
  for (const auto& g : byResult) {
    ConsoleQuery filtered = {{"id", id}, {"r_q", g.first}};
    results.Add({{{g.first, g.first.empty() ? "" : ConsoleUrl("/task", filtered)},
                  {g.second.second ? "failed" : "done"},
                  {std::to_string(g.second.first)}},
                 g.second.second ? "failed" : ""});
  }
  const size_t notReported = missing.Rows().size();
  reported.Apply(query, 2);
  missing.Apply(query);
  results.Apply(query);
  HttpReply csv;
  if (Csv({&reported, &missing, &results}, query, csv)) return csv;
  std::string body = Bar(done, failed, notReported);
  body += "<h2>By result</h2>\n" + results.Html("/task", query);
  body += "<h2>Reported</h2>\n" + reported.Html("/task", query);
  body += "<h2>Not reported</h2>\n" + missing.Html("/task", query);
  return Html("Task " + id, body);
}

HttpReply Console::Machine(const ConsoleQuery& query) {
  auto found = query.find("code");
  if (found == query.end() || found->second.empty()) {
    return TextReply(HTTPResponse::HTTP_BAD_REQUEST, "machine needs ?code=COMPUTERCODE");
  }
  const std::string& code = found->second;
  std::string body;
  for (const MachineRow& m : reports_.Machines()) {
    if (m.computerCode != code) continue;
    const std::pair<const char*, const std::string*> facts[] = {
        {"Host", &m.host},         {"User", &m.userName},    {"OS", &m.os},
        {"Address", &m.address},   {"Group", &m.group},      {"Policy", &m.policyFile},
        {"Holds", &m.heldVersion}, {"Sent", &m.sentVersion}, {"First seen", &m.firstSeen},
        {"Last seen", &m.lastSeen}};
    body += "<dl>";
    for (const auto& f : facts) {
      body += std::string("<dt>") + f.first + "</dt><dd>" + HtmlEscape(*f.second) + "</dd>";
    }
    body += "<dt>Policy requests</dt><dd>" + std::to_string(m.policyRequests) + "</dd></dl>\n";
  }
  if (body.empty()) body = "<p>No policy request or record from this machine.</p>\n";
  ConsoleTable records("c", {"Seq", "Received", "Operation", "Type", "Task", "Result", "r2", "r3",
                             "r4", "r5", "Client time", "Record"});
  for (const ReportRow& row : reports_.Find(code, "")) {
    const auto items = RecordItems(row.record);
    const bool result = row.type == "installResultInfo";
    records.Add({{{std::to_string(row.seq)},
                  {row.time},
                  {row.operation},
                  {row.type},
                  {row.id, TaskUrl(row.id)},
                  {Item(items, "r1")},
                  {Item(items, "r2")},
                  {Item(items, "r3")},
                  {Item(items, "r4")},
                  {Item(items, "r5")},
                  {Item(items, "client_time")},
                  {row.record}},
                 result && ResultFailed(Item(items, "r1")) ? "failed" : ""});
  }
  records.Apply(query, 0);
  HttpReply csv;
  if (Csv({&records}, query, csv)) return csv;
  body += "<h2>Records</h2>\n" + records.Html("/machine", query);
  return Html("Machine " + code, body);
}

}  // namespace obxserver
