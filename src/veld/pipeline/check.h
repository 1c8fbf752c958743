// SPDX-License-Identifier: GPL-3.0-or-later
// The disc check ("veld check"): a BDMV folder held against this program's own models of it. Every
// playlist's clips exist; each clip's information agrees with its stream file (number of source packets,
// entry-point map on random access points of the right PID, sequence and program information); the PAT
// and PMT agree with the clip information; every PES packet arrives by its decoding time; the decoder
// buffers of every stream stay within their sizes; every IG object that a page shows decodes.
//
// The same checks guard the replacement: a rebuilt clip that fails a check its original passes is not
// copied back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/base/messenger.h"
#include "veld/base/progress.h"
#include "veld/clip/clpi_data.h"
#include "veld/pipeline/output_names.h"

namespace veld {

// The checks, by the name a finding carries (text and JSON).
namespace check_kind {
inline constexpr const char* kClip = "clip";            // a clip a playlist names is missing or unreadable
inline constexpr const char* kPackets = "packets";      // file size against the number of source packets
inline constexpr const char* kEpMap = "ep_map";         // entry-point map against the stream
inline constexpr const char* kSequence = "sequence";    // sequence information against the stream
inline constexpr const char* kProgram = "program";      // program information, PAT and PMT
inline constexpr const char* kTransport = "transport";  // sync bytes, arrival time stamps
inline constexpr const char* kLate = "late";            // a PES packet arrives after its decoding time
inline constexpr const char* kBuffer = "buffer";        // a decoder buffer overflows
inline constexpr const char* kGraphics = "graphics";    // an IG stream or object does not decode
}  // namespace check_kind

struct SCheckFinding {
  std::string file;          // the file the finding is about
  const char* kind = "";     // one of check_kind
  int pid = -1;              // -1: not about one PID
  std::int64_t packet = -1;  // source packet number; -1: not about one packet
  std::string text;          // what is wrong

  // "file: PID 0x1011, packet 42: text" (the parts that are set).
  std::string describe() const;
};

// What a check leaves out. The decoder buffer models are the costly part of a clip's check: a clip rebuilt
// in place differs from its original only in the packets of the streams it replaced, so the buffers of
// every other stream are the original's and need not be modelled again.
struct SCheckScope {
  bool all_buffers = true;
  std::vector<std::uint16_t> buffer_pids;  // without all_buffers: the streams whose buffers are modelled
  bool models_buffers(std::uint16_t pid) const;
};

struct SCheckReport {
  std::filesystem::path source;
  int playlists = 0;
  int clips = 0;
  std::uint64_t packets = 0;  // source packets scanned
  std::vector<SCheckFinding> findings;
};

// Checks the BDMV folder. Result 0 (the report is made, with or without findings), 1 cancelled, 2 the
// folder cannot be checked at all (reported through messenger: no playlist folder, no playlist).
int CheckDisc(const std::filesystem::path& bdmv, SCheckReport& report, Progress& progress, Messenger& messenger);

// Checks one clip: its stream file against the parsed clip information, then its IG streams. Findings
// are appended. false only when cancelled.
bool CheckClip(const std::filesystem::path& m2ts, const std::filesystem::path& clpi_path, const SClpiData& clip,
               std::vector<SCheckFinding>& findings, Progress& progress, std::uint64_t* packets = nullptr,
               const SCheckScope& scope = {});

// Reads and parses a clip information file and checks the clip; a file that does not parse is a finding.
bool CheckClipFiles(const std::filesystem::path& m2ts, const std::filesystem::path& clpi,
                    std::vector<SCheckFinding>& findings, Progress& progress, std::uint64_t* packets = nullptr,
                    const SCheckScope& scope = {});

// The gate before a copy-back: checks the rebuilt clip (new_m2ts, new_clpi) and, when it has findings,
// the original clip (its files in the BDMV folder). true when every check the original passes, the
// rebuilt clip passes too (a check: its kind on one PID). Otherwise the first new finding is shown as an
// error naming clip, PID and packet, and the result is false. Both clips are checked within the scope.
bool CheckRebuiltClip(const std::filesystem::path& original_m2ts, const std::filesystem::path& original_clpi,
                      const std::filesystem::path& new_m2ts, const std::filesystem::path& new_clpi,
                      Progress& progress, Messenger& messenger, const SCheckScope& scope = {});

// The gate of a clip rebuilt in place, reading only what can differ from the original: the packets of
// the rebuilt streams (with the PAT, the PMT and the PCRs) are checked on a clip of their own, and every
// source packet number of the new clip information must name the packet the old one named. true when
// that shows the rebuilt clip passes every check its original passes; false when it does not show it
// (CheckRebuiltClip then decides), when cancelled (*cancelled), or when the clip of its own cannot be
// written next to new_m2ts (*error: the run then fails, as on any write that fails).
bool InPlaceClipPasses(const std::filesystem::path& original_m2ts, const std::filesystem::path& original_clpi,
                       const std::filesystem::path& new_m2ts, const std::filesystem::path& new_clpi,
                       const SInPlaceClip& clip, Progress& progress, bool* cancelled, std::string* error);

// The clip made of the listed packets of a rebuilt clip (spns ascending, packets their bytes: the
// rebuilt streams' own with the PAT, the PMT and the PCRs) checked on its own, next to new_m2ts, with
// the information of the whole clip (now, written to new_clpi) counted in it: true when it has no
// finding. false also when an entry point of the streams is not among the packets, when cancelled
// (*cancelled), or when the clip cannot be written (*error).
bool SubClipPasses(const std::filesystem::path& new_m2ts, const std::filesystem::path& new_clpi, const SClpiData& now,
                   ByteSpan packets, const std::vector<std::uint32_t>& spns, const std::vector<std::uint16_t>& pids,
                   Progress& progress, bool* cancelled, std::string* error);

// The report for people: one line per finding and a closing count.
std::string CheckReportText(const SCheckReport& report);
// The report for tools; "version" is kCheckReportJsonVersion.
std::string CheckReportJson(const SCheckReport& report);
inline constexpr int kCheckReportJsonVersion = 1;

}  // namespace veld
