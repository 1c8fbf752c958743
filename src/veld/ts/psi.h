// SPDX-License-Identifier: GPL-3.0-or-later
// Program-specific information of a clip stream file (ISO/IEC 13818-1 2.4.4 and the Blu-ray additions):
// the program association table, the program map table with its program and elementary-stream
// descriptors, the selection information table with its partial transport stream descriptor, the
// packets that carry them, and the language names of ISO 639-2.
//
// Sections are written with their lengths recomputed and a CRC-32 (ISO/IEC 13818-1 Annex A) at the end;
// reserved bits are written as 1. Parsers take the section bytes from the table id on and return the
// bytes taken (3 + SectionLength), or 0 or less for a malformed section.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/ts/ts_packet.h"

namespace veld {

// ---- PAT ----------------------------------------------------------------------------------------------

struct SPatProgram {
  std::uint16_t ProgramNumber = 0;
  std::uint16_t PID = 0;  // NetworkPID for program 0, ProgramMapPid otherwise

  bool operator==(const SPatProgram&) const = default;
};

struct SPat {
  std::uint8_t TableId = 0x00;
  bool SectionSyntaxIndicator = true;
  std::uint16_t SectionLength = 0;
  std::uint16_t TransportStreamId = 0;
  std::uint8_t VersionNumber = 0;
  bool CurrentNextIndicator = true;
  std::uint8_t SectionNumber = 0;
  std::uint8_t LastSectionNumber = 0;
  std::vector<SPatProgram> programs;  // CPiFolder
  std::uint32_t CRC32 = 0;

  // The multiplexer's table: programs (0 -> 0x001F) and (1 -> 0x0100).
  static SPat make_default();
  int parse(ByteSpan section);
  // Appends the section; SectionLength and CRC32 are recomputed and stored.
  std::size_t write(Bytes& out);

  bool operator==(const SPat&) const = default;
};

// ---- SIT ----------------------------------------------------------------------------------------------

struct SPartialTransportStreamDescriptor {
  std::uint8_t tag = 0x63;
  std::uint8_t length = 8;
  std::uint32_t PeakRate = 120000;                      // 22 bits, units of 400 bit/s
  std::uint32_t MinimumOverallSmoothingRate = 0x3FFFFF;  // 22 bits
  std::uint16_t MaximumOverallSmoothingBuffer = 0x3FFF;  // 14 bits

  bool operator==(const SPartialTransportStreamDescriptor&) const = default;
};

struct SSit {
  std::uint8_t TableId = 0x7F;
  bool SectionSyntaxIndicator = true;
  std::uint16_t SectionLength = 0;
  std::uint8_t VersionNumber = 0;
  bool CurrentNextIndicator = true;
  std::uint8_t SectionNumber = 0;
  std::uint8_t LastSectionNumber = 0;
  std::uint16_t TransmissionInfoLength = 0;
  SPartialTransportStreamDescriptor PartialTransportStreamDescriptor;
  std::uint16_t ServiceID = 1;
  std::uint8_t RunningStatus = 0;  // 3 bits
  std::uint16_t ServiceLoopLength = 0;
  std::uint32_t CRC32 = 0;

  int parse(ByteSpan section);
  std::size_t write(Bytes& out);

  bool operator==(const SSit&) const = default;
};

// ---- PMT descriptors ------------------------------------------------------------------------------------

struct SHdmvRegistrationDescriptor {
  std::uint8_t tag = 0x05;
  std::uint8_t length = 4;
  std::array<char, 4> FormatIdentifier{'H', 'D', 'M', 'V'};

  bool operator==(const SHdmvRegistrationDescriptor&) const = default;
};

struct SHdmvCopyControlDescriptor {
  std::uint8_t tag = 0x88;
  std::uint8_t length = 4;
  std::array<std::uint8_t, 2> fixed{0x0F, 0xFF};
  // length - 2 bytes. Built by a function: g++ 12 misreads a two-byte initializer list here
  // (-Warray-bounds false positive).
  Bytes further = default_further();
  static Bytes default_further();

  bool operator==(const SHdmvCopyControlDescriptor&) const = default;
};

struct SPrivateDescriptor {  // program descriptor tag 0x89, kept whole
  std::uint8_t tag = 0x89;
  Bytes bytes;

  bool operator==(const SPrivateDescriptor&) const = default;
};

struct SHdmvVideoRegistrationDescriptor {
  std::array<char, 4> FormatIdentifier{'H', 'D', 'M', 'V'};
  std::uint8_t StreamCodingType = 0;
  std::uint8_t VideoFormat = 0;  // 4 bits
  std::uint8_t FrameRate = 0;    // 4 bits
  std::uint8_t AspectRatio = 0;  // 4 bits

  bool operator==(const SHdmvVideoRegistrationDescriptor&) const = default;
};

struct SVc1RegistrationDescriptor {
  std::array<char, 4> FormatIdentifier{'V', 'C', '-', '1'};
  std::optional<std::uint8_t> ProfileLevel;   // sub-descriptor 1
  std::optional<std::uint8_t> AlignmentType;  // sub-descriptor 2
  bool has_buffer = false;                    // sub-descriptor 3
  std::uint8_t BufferSizeExponent = 0;        // 4 bits
  std::uint16_t HrdBuffer = 0;

  bool operator==(const SVc1RegistrationDescriptor&) const = default;
};

struct SHdmvLpcmRegistrationDescriptor {
  std::array<char, 4> FormatIdentifier{'H', 'D', 'M', 'V'};
  std::uint8_t StreamCodingType = 0x80;
  std::uint8_t AudioPresentationType = 0;  // 4 bits
  std::uint8_t SamplingFrequency = 0;      // 4 bits
  std::uint8_t BitsPerSample = 0;          // 2 bits

  bool operator==(const SHdmvLpcmRegistrationDescriptor&) const = default;
};

struct SAvcVideoDescriptor {
  std::uint8_t AvcProfile = 0;
  bool constraint_set0_flag = false;
  bool constraint_set1_flag = false;
  bool constraint_set2_flag = false;
  std::uint8_t AVC_compatible_flags = 0;  // 5 bits
  std::uint8_t AvcLevel = 0;
  bool AVC_still_present = false;
  bool AVC_24_hour_picture_flag = false;

  bool operator==(const SAvcVideoDescriptor&) const = default;
};

struct SAvcTimingHrdDescriptor {
  std::uint8_t tag = 0x2A;
  std::array<std::uint8_t, 2> bytes{};

  bool operator==(const SAvcTimingHrdDescriptor&) const = default;
};

struct SCaptionServiceInfo {
  std::array<char, 3> Language{'z', 'h', 'o'};
  bool DigitaCC = false;
  bool Line21Field = false;
  std::uint8_t CaptionServiceNumber = 1;  // 6 bits
  bool EasyReader = true;
  bool WideAspecRatio = false;

  bool operator==(const SCaptionServiceInfo&) const = default;
};

struct SCaptionServiceDescriptor {
  std::uint8_t NumberOfServices = 0;  // 5 bits; recomputed on write
  std::vector<SCaptionServiceInfo> services;  // CCsiFolder

  bool operator==(const SCaptionServiceDescriptor&) const = default;
};

struct SIso639LanguageDescriptor {
  std::array<char, 3> Language{'u', 'n', 'd'};
  std::uint8_t AudioType = 0;

  bool operator==(const SIso639LanguageDescriptor&) const = default;
};

// One elementary stream of the PMT with the descriptors this system understands. Copying the value is
// the deep copy of a stream entry.
struct SEsInfo {
  std::uint8_t StreamType = 0;
  std::uint16_t ElementaryPid = 0;
  std::uint16_t ES_IfoLength = 0;  // recomputed on write
  std::optional<SHdmvVideoRegistrationDescriptor> HdmvVideoRegistrationDescriptor;
  std::optional<SVc1RegistrationDescriptor> Vc1RegistrationDescriptor;
  std::optional<SHdmvLpcmRegistrationDescriptor> HdmvLpcmRegistrationDescriptor;
  bool Ac3RegistrationDescriptor = false;  // "AC-3", always written with length 4
  // The AC-3 audio descriptor (tag 0x81) is interpreted by the AC-3 analyser; here its bytes (tag,
  // length and body) are carried as read.
  std::optional<Bytes> Ac3AudioDescriptor;
  std::optional<SAvcVideoDescriptor> AvcVideoDescriptor;
  std::optional<SAvcTimingHrdDescriptor> AvcTimingHrdDescriptor;
  std::optional<SCaptionServiceDescriptor> CaptionServiceDescriptor;
  std::optional<SIso639LanguageDescriptor> LanguageDescriptor;

  bool operator==(const SEsInfo&) const = default;
};


// ---- PMT ----------------------------------------------------------------------------------------------

struct SPmt {
  std::uint8_t TableId = 0x02;
  bool SectionSyntaxIndicator = true;
  std::uint16_t SectionLength = 0;
  std::uint16_t ProgramNumber = 1;
  std::uint8_t VersionNumber = 0;
  bool CurrentNextIndicator = true;
  std::uint8_t SectionNumber = 0;
  std::uint8_t LastSectionNumber = 0;
  std::uint16_t PcrPid = kPidPcr;
  std::uint16_t ProgramInfoLength = 0;
  SHdmvRegistrationDescriptor HdmvRegistrationDescriptor;
  SHdmvCopyControlDescriptor HdmvCopyControlDescriptor;
  std::optional<SPrivateDescriptor> PrivateDescriptor;
  std::vector<SEsInfo> streams;  // CEsiFolder
  std::uint32_t CRC32 = 0;

  // Header fields from the first 12 bytes of the section; 12, or 0 or less when malformed.
  int parse_header(ByteSpan section);
  // The rest of the section after the 12 header bytes (SectionLength - 9 bytes: program descriptors,
  // stream entries, CRC). Returns the bytes taken, 0 or less when malformed. The CRC is stored, not checked.
  int parse_body(ByteSpan rest);
  // A whole section: header and body.
  int parse(ByteSpan section);
  // Appends the section; lengths, caption service numbers and CRC32 are recomputed and stored.
  std::size_t write(Bytes& out);

  const SEsInfo* find(std::uint16_t pid) const;

  bool operator==(const SPmt&) const = default;
};

// Collects a PMT section from the payload of the packets on the PMT PID.
class CPmtAssembler {
 public:
  // The first payload after the pointer field: reads the header and keeps the rest of the payload. false
  // when the header is malformed (the assembler is then idle).
  bool read_header(ByteSpan first_payload);
  // Appends payload bytes; true once the section is complete. Bytes beyond the section are ignored.
  bool append(ByteSpan payload);
  bool active() const { return active_; }
  bool complete() const { return complete_; }
  // Parses the collected body into a PMT; std::nullopt when malformed or incomplete.
  std::optional<SPmt> take();
  void reset();

 private:
  SPmt header_;
  Bytes body_;
  std::size_t needed_ = 0;
  bool active_ = false;
  bool complete_ = false;
};

// ---- packets ------------------------------------------------------------------------------------------

// What one PSI or PCR packet of the multiplexer carries.
struct SPsiPacketContext {
  STsHeader header;
  std::optional<SAdaptationField> adaptation_field;  // written when AdapationFieldControl is 2 or 3
  std::optional<SPat> pat;                           // for PID 0x0000
  std::optional<SSit> sit;                           // for PID 0x001F
  const SPesHeader* pes = nullptr;                   // for an elementary-stream PID starting a PES packet
};

// Writes the header, the adaptation field (when flagged), and for PID 0x0000 and 0x001F a zero pointer
// field with the PAT or SIT section, or for an elementary-stream PID with payload unit start the PES
// header. The rest of the 188 bytes is left as it was. Returns the bytes written, 0 when the parts do not
// fit the packet.
std::size_t write_psi_packet(SPsiPacketContext& ctx, std::uint8_t* packet);

// Writes one packet of a PMT section (PID and counter from ctx.header): payload unit start equal to first,
// a zero pointer field in the first packet, then as many section bytes as fit (183 in the first packet,
// 184 in the others). Returns the section bytes taken.
std::size_t write_pmt_packet(SPsiPacketContext& ctx, std::uint8_t* packet, ByteSpan pmt_left, bool first);

// ---- languages ----------------------------------------------------------------------------------------

struct SLanguageName {
  const char* code;  // ISO 639-2 three-letter code
  const char* name;  // English name
};

// The 486 pairs, sorted by English name.
std::span<const SLanguageName> language_table();
// The English name of a code (exact match, first entry), or an empty view.
std::string_view language_name(std::string_view code);

}  // namespace veld
