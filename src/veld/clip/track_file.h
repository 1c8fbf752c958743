// SPDX-License-Identifier: GPL-3.0-or-later
// Track files: the sinks into which the demultiplexer pours the payload of one elementary stream. A track
// file collects bytes in one large buffer and hands them to its byte sink (a file, or a memory file that
// grows in steps) in large writes. The graphics variant turns every PES packet into one record of the
// segment file: a two-letter tag, the PTS and DTS rebased to the start of the clip, and the payload.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/base/file.h"
#include "veld/ts/ts_packet.h"

namespace veld {

// Where a track file's bytes go.
class CByteSink {
 public:
  virtual ~CByteSink() = default;
  virtual std::int64_t length() const = 0;
  virtual const std::filesystem::path& path() const = 0;
  // false on failure; error() then tells why.
  virtual bool write(ByteSpan data) = 0;
  virtual void close() = 0;
  // Removes the sink's file (called for a sink that received no bytes).
  virtual void remove() {}
  virtual const std::string& error() const = 0;
};

// A memory file that grows in steps of `step` bytes.
class CMemorySink : public CByteSink {
 public:
  explicit CMemorySink(std::size_t step = 1024) : step_(step ? step : 1) {}
  std::int64_t length() const override { return static_cast<std::int64_t>(data_.size()); }
  const std::filesystem::path& path() const override { return path_; }
  bool write(ByteSpan data) override;
  void close() override {}
  const std::string& error() const override { return error_; }
  const Bytes& data() const { return data_; }
  std::size_t capacity() const { return data_.capacity(); }

 private:
  std::size_t step_;
  Bytes data_;
  std::filesystem::path path_;
  std::string error_;
};

// A file on disk, created (or truncated) by open().
class CFileSink : public CByteSink {
 public:
  bool open(const std::filesystem::path& path);
  std::int64_t length() const override { return written_; }
  const std::filesystem::path& path() const override { return file_.path(); }
  bool write(ByteSpan data) override;
  void close() override { file_.close(); }
  void remove() override;
  const std::string& error() const override { return file_.error(); }

 private:
  File file_;
  std::int64_t written_ = 0;
};

class STrackFile {
 public:
  explicit STrackFile(std::size_t capacity = 0x100000);
  virtual ~STrackFile();
  STrackFile(const STrackFile&) = delete;
  STrackFile& operator=(const STrackFile&) = delete;

  // Plain track files append the bytes and ignore the PES header and time base.
  virtual void write(const std::uint8_t* data, std::size_t count, const SPesHeader* pes, std::uint64_t time_base);
  // Appends the prefix (when not empty), then the bytes.
  void write_with_prefix(const std::uint8_t* data, std::size_t count, const std::uint8_t* prefix,
                         std::size_t prefix_count);
  // Hands the used part of the buffer to the sink. false when the sink failed (now or earlier).
  bool flush();
  // Bytes appended so far, flushed or not.
  std::uint64_t size() const { return flushed_ + used_; }
  // The clip file offset of the transport packet whose payload is written next; the demultiplexer sets it
  // before each write that starts a PES packet.
  void set_packet_position(std::int64_t offset) { packet_position_ = offset; }

  void attach(std::unique_ptr<CByteSink> sink) { sink_ = std::move(sink); }
  CByteSink* sink() const { return sink_.get(); }
  std::size_t capacity() const { return capacity_; }
  std::size_t used() const { return used_; }
  // The first sink failure, empty while all writes succeeded.
  const std::string& error() const { return error_; }

 protected:
  // Appends parts as one unit, flushing first when they would not fit with what is buffered.
  void append(std::initializer_list<ByteSpan> parts);

  std::int64_t packet_position_ = -1;

 private:
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t capacity_;
  std::size_t used_ = 0;
  std::uint64_t flushed_ = 0;
  std::unique_ptr<CByteSink> sink_;
  std::string error_;
};

// Graphics track file: one segment-file record per PES packet.
class SGsTrackFile : public STrackFile {
 public:
  static constexpr std::size_t kCapacity = 0x3F6000;
  // The first record never carries a time below this many ticks after the clip start.
  static constexpr std::int64_t kMinStartTicks = 131070;

  SGsTrackFile();
  // With a PES header: a new record (tag, PTS and DTS rebased to time_base plus the adjustment, then the
  // payload); without: payload of the current record.
  void write(const std::uint8_t* data, std::size_t count, const SPesHeader* pes, std::uint64_t time_base) override;

  const std::string& tag() const { return tag_; }
  std::int64_t adjustment() const { return adjustment_; }
  // Names an offset of the segment file by where its bytes came from: the clip file offset of the
  // transport packet that started the record's PES packet, and the byte within the segment when it is
  // not the segment's first ("offset N" when the record's origin is unknown).
  std::string describe_offset(std::uint64_t offset) const;
  // Hands the buffered records to the sink as soon as a record of an END segment (type 0x80, the end of a
  // display set) has been buffered, so that a reader of the sink sees each display set while the scan
  // goes on instead of when the buffer fills.
  void set_flush_at_end(bool on) { flush_at_end_ = on; }

 protected:
  std::string tag_;

 private:
  struct SRecordOrigin {
    std::uint64_t record = 0;  // offset of the record in the segment file
    std::int64_t packet = -1;  // clip file offset of the packet that started it
  };
  std::vector<SRecordOrigin> origins_;
  std::int64_t adjustment_ = 0;
  bool first_packet_ = true;
  bool flush_at_end_ = false;
  std::uint8_t record_header_[10] = {};
};

// The graphics track file of an Interactive Graphics stream: records tagged "IG".
class SIgTrackFile : public SGsTrackFile {
 public:
  SIgTrackFile() { tag_ = "IG"; }
};

}  // namespace veld
