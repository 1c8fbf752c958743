#include "veld/clip/ig_track.h"

#include <fmt/format.h>

#include "veld/base/messages.h"
#include "veld/clip/demux.h"
#include "veld/graphics/segment_file.h"

namespace veld {
namespace {

void report(Messenger& messenger, const File& file, std::string_view text) {
  messenger.show(MessageKind::kError, fmt::sprintf("%s:\n\r%s", file.path().string(), std::string(text)));
}

}  // namespace

int LoadClipIgStreams(File& clip_stream, std::vector<SClipIgStream>& out, Progress& progress, Messenger& messenger) {
  const std::optional<SPmt> pmt = find_pmt(clip_stream);
  if (!pmt) {
    report(messenger, clip_stream, message_text(kMsgWrongM2ts));
    return 2;
  }
  CTrackInfoMap map;
  for (const SEsInfo& es : pmt->streams) {
    if (es.StreamType != 0x91) continue;
    STrackInfo info;
    info.coding_type = es.StreamType;
    info.track = std::make_unique<SIgTrackFile>();
    auto sink = std::make_unique<CMemorySink>(1024);
    info.track->attach(std::move(sink));
    map.add(es.ElementaryPid, std::move(info));
  }
  if (map.empty()) {
    report(messenger, clip_stream, message_text(kMsgNoIgs));
    return 2;
  }
  std::string error;
  std::uint64_t time_base = 0;
  switch (demux_to_track_files(map, clip_stream, progress, &error, &time_base)) {
    case DemuxResult::kOk:
      break;
    case DemuxResult::kCancelled:
      return 1;
    case DemuxResult::kReadError:
      messenger.show(MessageKind::kError, error);
      return 2;
  }
  for (auto& [pid, info] : map.entries()) {
    if (!info.track->error().empty()) {
      messenger.show(MessageKind::kError, info.track->error());
      return 2;
    }
    const auto* sink = static_cast<const CMemorySink*>(info.track->sink());
    SClipIgStream stream;
    stream.pid = pid;
    stream.time_shift = static_cast<std::int64_t>(time_base) -
                        static_cast<const SGsTrackFile*>(info.track.get())->adjustment();
    std::string why;
    if (!ReadGraphicsStream(sink->data(), stream.data, &why)) {
      const std::string where = fmt::format("{} (PID 0x{:04X}): {}", clip_stream.path().string(), pid, why);
      messenger.show(MessageKind::kError, format_message(kMsgParseError, where));
      return 2;
    }
    out.push_back(std::move(stream));
  }
  return 0;
}

int LoadClipIgStreams(const std::filesystem::path& clip_stream, std::vector<SClipIgStream>& out, Progress& progress,
                      Messenger& messenger) {
  File file;
  if (!file.open(clip_stream, File::Mode::kRead)) {
    messenger.show(MessageKind::kError, file.error());
    return 2;
  }
  return LoadClipIgStreams(file, out, progress, messenger);
}

}  // namespace veld
