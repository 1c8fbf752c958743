// SPDX-License-Identifier: GPL-3.0-or-later
// The disc check's report as text for people and as JSON for tools.
#include <fmt/format.h>

#include "veld/base/json_writer.h"
#include "veld/base/messages.h"
#include "veld/pipeline/check.h"

namespace veld {

std::string CheckReportText(const SCheckReport& report) {
  std::string out;
  for (const SCheckFinding& f : report.findings) out += fmt::format("{} [{}]\n", f.describe(), f.kind);
  const std::string source = report.source.string();
  if (report.findings.empty()) {
    out += format_message(kMsgCheckClean, source, report.playlists, report.clips, report.packets);
  } else {
    out += format_message(kMsgCheckFindings, source, report.playlists, report.clips, report.packets,
                          report.findings.size());
  }
  return out + "\n";
}

std::string CheckReportJson(const SCheckReport& report) {
  JsonWriter w;
  w.begin_object();
  w.member("version", kCheckReportJsonVersion);
  w.member("source", report.source.string());
  w.member("playlists", report.playlists);
  w.member("clips", report.clips);
  w.member("packets", report.packets);
  w.key("findings").begin_array();
  for (const SCheckFinding& f : report.findings) {
    w.begin_object();
    w.member("file", f.file);
    w.member("check", f.kind);
    w.key("pid");
    if (f.pid >= 0) w.value(f.pid); else w.null();
    w.key("packet");
    if (f.packet >= 0) w.value(static_cast<std::int64_t>(f.packet)); else w.null();
    w.member("text", f.text);
    w.end_object();
  }
  w.end_array();
  w.end_object();
  return w.text();
}

}  // namespace veld
