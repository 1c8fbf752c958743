// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/ig_track.h"

#include <fmt/format.h>

#include "veld/base/messages.h"
#include "veld/clip/demux.h"
#include "veld/graphics/segment_file.h"

namespace veld {
namespace {

void report(Messenger& messenger, const File& file, std::string_view text) {
  messenger.show(MessageKind::kError, fmt::sprintf("%s:\n\r%s", file.path().string(), std::string(text)));
}

// The sink of an IG track file: parses the segment file as it arrives. A parse error stops the parsing;
// it is reported once the scan is over, as for a stream read whole.
class CGraphicsStreamSink : public CByteSink {
 public:
  CGraphicsStreamSink(std::uint16_t pid, const DisplaySetListener& listener)
      : reader_(listener ? CGraphicsStreamReader::Listener([pid, &listener](const CDsData& ds) { listener(pid, ds); })
                         : CGraphicsStreamReader::Listener()) {}
  std::int64_t length() const override { return length_; }
  const std::filesystem::path& path() const override { return path_; }
  bool write(ByteSpan data) override {
    length_ += static_cast<std::int64_t>(data.size());
    reader_.Feed(data);
    return true;
  }
  void close() override {}
  const std::string& error() const override { return no_error_; }
  CGraphicsStreamReader& reader() { return reader_; }

 private:
  CGraphicsStreamReader reader_;
  std::int64_t length_ = 0;
  std::filesystem::path path_;
  std::string no_error_;
};

int DisplaySetCount(const CGsData& stream) {
  std::size_t n = 0;
  for (const CEpochData& epoch : stream.Epochs) n += epoch.DisplaySets.size();
  return static_cast<int>(n);
}

}  // namespace

namespace {

// A track per IG stream of the program map, each feeding a reader of graphics segments.
CTrackInfoMap IgTrackMap(const SPmt& pmt, const DisplaySetListener& listener) {
  CTrackInfoMap map;
  for (const SEsInfo& es : pmt.streams) {
    if (es.StreamType != 0x91) continue;
    STrackInfo info;
    info.coding_type = es.StreamType;
    auto track = std::make_unique<SIgTrackFile>();
    track->set_flush_at_end(static_cast<bool>(listener));
    auto sink = std::make_unique<CGraphicsStreamSink>(es.ElementaryPid, listener);
    // Errors name the byte of the clip that a position of the stream came from.
    sink->reader().set_offset_namer(
        [file = track.get()](std::uint64_t offset) { return file->describe_offset(offset); });
    track->attach(std::move(sink));
    info.track = std::move(track);
    map.add(es.ElementaryPid, std::move(info));
  }
  return map;
}

// The stream a track read, once the pass has ended. false when it cannot be parsed (reported).
bool FinishIgStream(const File& clip_stream, std::uint16_t pid, STrackInfo& info, std::uint64_t time_base,
                    SClipIgStream& stream, Messenger& messenger) {
  if (!info.track->error().empty()) {
    messenger.show(MessageKind::kError, info.track->error());
    return false;
  }
  const auto* file = static_cast<const SGsTrackFile*>(info.track.get());
  stream.pid = pid;
  stream.time_shift = static_cast<std::int64_t>(time_base) - file->adjustment();
  CGraphicsStreamReader& reader = static_cast<CGraphicsStreamSink*>(info.track->sink())->reader();
  if (!reader.Finish(stream.data)) {
    const std::string where = fmt::format("{} (PID {}): {}", clip_stream.path().string(), pid, reader.error());
    messenger.show(MessageKind::kError, format_message(kMsgParseError, where));
    return false;
  }
  if (const auto& tail = reader.incomplete()) {
    // A clip cut off inside a display set: the display sets before it are kept, this one cannot be.
    messenger.show(MessageKind::kWarning,
                   format_message(kMsgIncompleteDisplaySet, clip_stream.path().string(), pid,
                                  DisplaySetCount(stream.data) + 1, static_cast<int>(tail->segments),
                                  file->describe_offset(tail->offset)));
  }
  return true;
}

}  // namespace

int LoadClipIgStreams(File& clip_stream, std::vector<SClipIgStream>& out, Progress& progress, Messenger& messenger,
                      const DisplaySetListener& listener, CPacketObserver* observer) {
  const std::optional<SPmt> pmt = find_pmt(clip_stream);
  if (!pmt) {
    report(messenger, clip_stream, message_text(kMsgWrongM2ts));
    return 2;
  }
  CTrackInfoMap map = IgTrackMap(*pmt, listener);
  if (map.empty()) {
    report(messenger, clip_stream, message_text(kMsgNoIgs));
    return 2;
  }
  std::string error;
  std::uint64_t time_base = 0;
  switch (demux_to_track_files(map, clip_stream, progress, &error, &time_base, observer)) {
    case DemuxResult::kOk:
      break;
    case DemuxResult::kCancelled:
      return 1;
    case DemuxResult::kReadError:
      messenger.show(MessageKind::kError, error);
      return 2;
  }
  for (auto& [pid, info] : map.entries()) {
    SClipIgStream stream;
    if (!FinishIgStream(clip_stream, pid, info, time_base, stream, messenger)) return 2;
    out.push_back(std::move(stream));
  }
  return 0;
}

int LoadClipIgStreams(const std::filesystem::path& clip_stream, std::vector<SClipIgStream>& out, Progress& progress,
                      Messenger& messenger, const DisplaySetListener& listener) {
  File file;
  if (!file.open(clip_stream, File::Mode::kRead)) {
    messenger.show(MessageKind::kError, file.error());
    return 2;
  }
  return LoadClipIgStreams(file, out, progress, messenger, listener);
}

}  // namespace veld
