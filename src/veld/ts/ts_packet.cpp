// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/ts/ts_packet.h"

#include <cstring>

namespace veld {

SSourcePacketHeader SSourcePacketHeader::parse(const std::uint8_t* p) {
  const std::uint32_t v = load_be32(p);
  return {static_cast<std::uint8_t>(v >> 30), v & 0x3FFFFFFFu};
}

void SSourcePacketHeader::write(std::uint8_t* p) const {
  store_be32(p, (std::uint32_t{CopyPermissionIndicator} & 3u) << 30 | (ArriveTimeStamp & 0x3FFFFFFFu));
}

STimeStamp STimeStamp::parse(const std::uint8_t* p) {
  STimeStamp t;
  t.prefix = static_cast<std::uint8_t>(p[0] >> 4);
  t.value = (std::uint64_t{(p[0] >> 1) & 7u} << 30) | (std::uint64_t{load_be16(p + 1)} >> 1 << 15) |
            (load_be16(p + 3) >> 1);
  return t;
}

void STimeStamp::write(std::uint8_t* p) const {
  p[0] = static_cast<std::uint8_t>((prefix << 4) | (((value >> 30) & 7u) << 1) | 1u);
  store_be16(p + 1, static_cast<std::uint16_t>((((value >> 15) & 0x7FFFu) << 1) | 1u));
  store_be16(p + 3, static_cast<std::uint16_t>(((value & 0x7FFFu) << 1) | 1u));
}

void STimeStamp::rewrite_value(std::uint8_t* p, std::uint64_t value) {
  p[0] = static_cast<std::uint8_t>((p[0] & 0xF1u) | (((value >> 30) & 7u) << 1));
  const std::uint16_t mid = static_cast<std::uint16_t>((((value >> 15) & 0x7FFFu) << 1) | (p[2] & 1u));
  const std::uint16_t low = static_cast<std::uint16_t>(((value & 0x7FFFu) << 1) | (p[4] & 1u));
  store_be16(p + 1, mid);
  store_be16(p + 3, low);
}

STsHeader STsHeader::parse(const std::uint8_t* p) {
  STsHeader h;
  h.SyncByte = p[0];
  h.TransportErrorIndicator = (p[1] & 0x80) != 0;
  h.PayloadUnitStartIndicator = (p[1] & 0x40) != 0;
  h.TransportPriority = (p[1] & 0x20) != 0;
  h.PID = ts_pid(p);
  h.TransportScramblingControl = static_cast<std::uint8_t>(p[3] >> 6);
  h.AdapationFieldControl = static_cast<std::uint8_t>((p[3] >> 4) & 3);
  h.ContinuityCounter = static_cast<std::uint8_t>(p[3] & 0x0F);
  return h;
}

void STsHeader::write(std::uint8_t* p) const {
  p[0] = SyncByte;
  p[1] = static_cast<std::uint8_t>((TransportErrorIndicator ? 0x80 : 0) | (PayloadUnitStartIndicator ? 0x40 : 0) |
                                   (TransportPriority ? 0x20 : 0) | ((PID >> 8) & 0x1F));
  p[2] = static_cast<std::uint8_t>(PID);
  p[3] = static_cast<std::uint8_t>(((TransportScramblingControl & 3) << 6) | ((AdapationFieldControl & 3) << 4) |
                                   (ContinuityCounter & 0x0F));
}

namespace {

SPcr read_pcr(ByteReader& r) {
  const std::uint8_t* p = r.bytes(6).data();
  SPcr pcr;
  pcr.Base = (std::uint64_t{load_be32(p)} << 1) | (p[4] >> 7);
  pcr.Extension = static_cast<std::uint16_t>(((p[4] & 1) << 8) | p[5]);
  return pcr;
}

void write_pcr(std::uint8_t* p, const SPcr& pcr) {
  store_be32(p, static_cast<std::uint32_t>(pcr.Base >> 1));
  p[4] = static_cast<std::uint8_t>(((pcr.Base & 1) << 7) | 0x7E | ((pcr.Extension >> 8) & 1));
  p[5] = static_cast<std::uint8_t>(pcr.Extension);
}

}  // namespace

int SAdaptationField::parse(ByteSpan data) {
  *this = SAdaptationField{};
  try {
    ByteReader outer(data, "AdaptationField");
    AdaptationFieldLength = outer.u8();
    if (AdaptationFieldLength == 0) {
      Empty = true;
      return 1;
    }
    ByteReader r = outer.sub(AdaptationFieldLength, "AdaptationField");
    const std::uint8_t flags = r.u8();
    DiscontinuityIndicator = flags & 0x80;
    RandomAccessIndicator = flags & 0x40;
    ElementaryStreamPriorityIndicator = flags & 0x20;
    PCR_Flag = flags & 0x10;
    OPCR_Flag = flags & 0x08;
    SplicingPointFlag = flags & 0x04;
    TransportPrivateDataFlag = flags & 0x02;
    AdaptationFieldExtensionFlag = flags & 0x01;
    if (PCR_Flag) PCR = read_pcr(r);
    if (OPCR_Flag) OPCR = read_pcr(r);
    if (SplicingPointFlag) SpliceCountdown = static_cast<std::int8_t>(r.u8());
    if (TransportPrivateDataFlag) {
      PrivateDataLength = r.u8();
      PrivateDataByte = r.bytes(PrivateDataLength);
    }
    if (AdaptationFieldExtensionFlag) {
      AdaptationFieldExtensionLength = r.u8();
      ByteReader e = r.sub(AdaptationFieldExtensionLength, "AdaptationFieldExtension");
      const std::uint8_t ef = e.u8();
      LtwFlag = ef & 0x80;
      PiecewiseRateFlag = ef & 0x40;
      SeamlessSpliceFlag = ef & 0x20;
      ExtensionReserved = ef & 0x1F;
      if (LtwFlag) {
        const std::uint16_t v = e.u16();
        LtwValidFlag = v & 0x8000;
        LtwOffset = v & 0x7FFF;
      }
      if (PiecewiseRateFlag) PiecewiseRate = e.u24() & 0x3FFFFF;
      if (SeamlessSpliceFlag) {
        DTS_NextAU = STimeStamp::parse(e.bytes(5).data());
        SpliceType = DTS_NextAU.prefix;
      }
      ExtensionExtraBytes = e.bytes(e.remaining());
    }
    StuffingSize = r.remaining();
    return 1 + AdaptationFieldLength;
  } catch (const ParseError&) {
    return -1;
  }
}

std::size_t SAdaptationField::written_size() const {
  if (Empty) return 1;
  std::size_t n = 2;  // length and flags
  if (PCR_Flag) n += 6;
  if (OPCR_Flag) n += 6;
  if (SplicingPointFlag) n += 1;
  if (TransportPrivateDataFlag) n += 1 + PrivateDataByte.size();
  if (AdaptationFieldExtensionFlag) {
    n += 2;
    if (LtwFlag) n += 2;
    if (PiecewiseRateFlag) n += 3;
    if (SeamlessSpliceFlag) n += 5;
    n += ExtensionExtraBytes.size();
  }
  return n + StuffingSize;
}

std::size_t SAdaptationField::write(std::uint8_t* out, std::size_t cap) const {
  const std::size_t size = written_size();
  if (size > cap || size > kTsPacketSize - 4) return 0;
  if (Empty) {
    out[0] = 0;
    return 1;
  }
  std::uint8_t* p = out;
  *p++ = static_cast<std::uint8_t>(size - 1);
  *p++ = static_cast<std::uint8_t>((DiscontinuityIndicator ? 0x80 : 0) | (RandomAccessIndicator ? 0x40 : 0) |
                                   (ElementaryStreamPriorityIndicator ? 0x20 : 0) | (PCR_Flag ? 0x10 : 0) |
                                   (OPCR_Flag ? 0x08 : 0) | (SplicingPointFlag ? 0x04 : 0) |
                                   (TransportPrivateDataFlag ? 0x02 : 0) | (AdaptationFieldExtensionFlag ? 0x01 : 0));
  if (PCR_Flag) {
    write_pcr(p, PCR);
    p += 6;
  }
  if (OPCR_Flag) {
    write_pcr(p, OPCR);
    p += 6;
  }
  if (SplicingPointFlag) *p++ = static_cast<std::uint8_t>(SpliceCountdown);
  if (TransportPrivateDataFlag) {
    *p++ = static_cast<std::uint8_t>(PrivateDataByte.size());
    if (!PrivateDataByte.empty()) std::memcpy(p, PrivateDataByte.data(), PrivateDataByte.size());
    p += PrivateDataByte.size();
  }
  if (AdaptationFieldExtensionFlag) {
    std::uint8_t* len = p++;
    *p++ = static_cast<std::uint8_t>((LtwFlag ? 0x80 : 0) | (PiecewiseRateFlag ? 0x40 : 0) |
                                     (SeamlessSpliceFlag ? 0x20 : 0) | (ExtensionReserved & 0x1F));
    if (LtwFlag) {
      store_be16(p, static_cast<std::uint16_t>((LtwValidFlag ? 0x8000 : 0) | (LtwOffset & 0x7FFF)));
      p += 2;
    }
    if (PiecewiseRateFlag) {
      store_be24(p, 0xC00000u | (PiecewiseRate & 0x3FFFFFu));
      p += 3;
    }
    if (SeamlessSpliceFlag) {
      STimeStamp t = DTS_NextAU;
      t.prefix = SpliceType;
      t.write(p);
      p += 5;
    }
    if (!ExtensionExtraBytes.empty()) std::memcpy(p, ExtensionExtraBytes.data(), ExtensionExtraBytes.size());
    p += ExtensionExtraBytes.size();
    *len = static_cast<std::uint8_t>(p - len - 1);
  }
  std::memset(p, 0xFF, StuffingSize);
  return size;
}

bool SPesHeader::short_form(std::uint8_t id) {
  return id == 0xBC || id == 0xBE || id == 0xBF || id == 0xF0 || id == 0xF1 || id == 0xFF;
}

int SPesHeader::parse(ByteSpan data) {
  *this = SPesHeader{};
  try {
    ByteReader r(data, "PES_Packet");
    PacketStartCodePrefix = r.u24();
    if (PacketStartCodePrefix != 0x000001) return -1;
    StreamID = r.u8();
    PES_PacketLength = r.u16();
    if (short_form(StreamID)) {
      ShortHeader = true;
      return 6;
    }
    const std::uint8_t b6 = r.u8();
    if ((b6 >> 6) != 2) return -1;
    PES_ScramblingControl = (b6 >> 4) & 3;
    PES_Priority = b6 & 0x08;
    DataAlignmentIndicator = b6 & 0x04;
    Copyright = b6 & 0x02;
    OriginalOrCopy = b6 & 0x01;
    const std::uint8_t b7 = r.u8();
    PTS_DTS_Flag = b7 >> 6;
    ESCR_Flag = b7 & 0x20;
    ES_RateFlag = b7 & 0x10;
    DSM_TrickModeFlag = b7 & 0x08;
    AdditionalCopyInfoFlag = b7 & 0x04;
    PES_CRC_Flag = b7 & 0x02;
    PES_ExtensionFlag = b7 & 0x01;
    PES_HeaderDataLength = r.u8();
    ByteReader h = r.sub(PES_HeaderDataLength, "PES_Packet header data");
    if (PTS_DTS_Flag >= 2) PTS = STimeStamp::parse(h.bytes(5).data());
    if (PTS_DTS_Flag == 3) DTS = STimeStamp::parse(h.bytes(5).data());
    if (ESCR_Flag) {
      const std::uint8_t* e = h.bytes(6).data();
      ESCR = (std::uint64_t{load_be32(e)} << 16) | load_be16(e + 4);
    }
    if (ES_RateFlag) ES_Rate = (h.u24() >> 1) & 0x3FFFFF;
    if (DSM_TrickModeFlag) {
      const std::uint8_t t = h.u8();
      TrickModeControl = t >> 5;
      switch (TrickModeControl) {
        case 0:
        case 3:
          FieldID = (t >> 3) & 3;
          IntraSliceRefresh = t & 0x04;
          FrequencyTruncation = t & 3;
          break;
        case 1:
        case 4:
          FieldRepCntrl = t & 0x1F;
          break;
        case 2:
          FieldID = (t >> 3) & 3;
          TrickModeReserved = t & 7;
          break;
        default:
          TrickModeReserved = t & 0x1F;
          break;
      }
    }
    if (AdditionalCopyInfoFlag) AdditionalCopyInfo = h.u8() & 0x7F;
    if (PES_CRC_Flag) PreviousPES_PacketCRC = h.u16();
    if (PES_ExtensionFlag) {
      const std::uint8_t e = h.u8();
      PES_PrivateDataFlag = e & 0x80;
      PackHeaderFieldFlag = e & 0x40;
      ProgramPacketSequenceCounterFlag = e & 0x20;
      P_STD_BufferFlag = e & 0x10;
      PES_ExtensionFlag2 = e & 0x01;
      if (PES_PrivateDataFlag) PES_PrivateData = h.bytes(16);
      if (PackHeaderFieldFlag) {
        PackFieldLength = h.u8();
        PackHeader = h.bytes(PackFieldLength);
      }
      if (ProgramPacketSequenceCounterFlag) {
        const std::uint8_t a = h.u8();
        const std::uint8_t b = h.u8();
        ProgramPacketSequenceCounter = a & 0x7F;
        MPEG1_MPEG2_Identifier = b & 0x40;
        OrigianlStuffLength = b & 0x3F;
      }
      if (P_STD_BufferFlag) {
        const std::uint16_t v = h.u16();
        P_STD_BufferScale = v & 0x2000;
        P_STD_BufferSize = v & 0x1FFF;
      }
      if (PES_ExtensionFlag2) {
        PES_ExtensionFieldLength = h.u8() & 0x7F;
        PES_ExtensionField = h.bytes(PES_ExtensionFieldLength);
      }
    }
    StuffingSize = h.remaining();
    return static_cast<int>(header_size());
  } catch (const ParseError&) {
    return -1;
  }
}

std::size_t SPesHeader::written_size() const {
  if (ShortHeader) return 6;
  std::size_t n = 9;
  if (PTS_DTS_Flag >= 2) n += 5;
  if (PTS_DTS_Flag == 3) n += 5;
  if (ESCR_Flag) n += 6;
  if (ES_RateFlag) n += 3;
  if (DSM_TrickModeFlag) n += 1;
  if (AdditionalCopyInfoFlag) n += 1;
  if (PES_CRC_Flag) n += 2;
  if (PES_ExtensionFlag) {
    n += 1;
    if (PES_PrivateDataFlag) n += 16;
    if (PackHeaderFieldFlag) n += 1 + PackHeader.size();
    if (ProgramPacketSequenceCounterFlag) n += 2;
    if (P_STD_BufferFlag) n += 2;
    if (PES_ExtensionFlag2) n += 1 + PES_ExtensionField.size();
  }
  return n + StuffingSize;
}

std::size_t SPesHeader::write(std::uint8_t* out, std::size_t cap) const {
  const std::size_t size = written_size();
  if (size > cap || size - 9 > 255 || PackHeader.size() > 255 || PES_ExtensionField.size() > 127 ||
      (PES_PrivateDataFlag && PES_PrivateData.size() != 16))
    return 0;
  std::uint8_t* p = out;
  store_be24(p, 0x000001);
  p[3] = StreamID;
  store_be16(p + 4, PES_PacketLength);
  if (ShortHeader) return 6;
  p[6] = static_cast<std::uint8_t>(0x80 | ((PES_ScramblingControl & 3) << 4) | (PES_Priority ? 0x08 : 0) |
                                   (DataAlignmentIndicator ? 0x04 : 0) | (Copyright ? 0x02 : 0) |
                                   (OriginalOrCopy ? 0x01 : 0));
  p[7] = static_cast<std::uint8_t>(((PTS_DTS_Flag & 3) << 6) | (ESCR_Flag ? 0x20 : 0) | (ES_RateFlag ? 0x10 : 0) |
                                   (DSM_TrickModeFlag ? 0x08 : 0) | (AdditionalCopyInfoFlag ? 0x04 : 0) |
                                   (PES_CRC_Flag ? 0x02 : 0) | (PES_ExtensionFlag ? 0x01 : 0));
  p[8] = static_cast<std::uint8_t>(size - 9);
  p += 9;
  if (PTS_DTS_Flag >= 2) {
    PTS.write(p);
    p += 5;
  }
  if (PTS_DTS_Flag == 3) {
    DTS.write(p);
    p += 5;
  }
  if (ESCR_Flag) {
    store_be32(p, static_cast<std::uint32_t>(ESCR >> 16));
    store_be16(p + 4, static_cast<std::uint16_t>(ESCR));
    p += 6;
  }
  if (ES_RateFlag) {
    store_be24(p, 0x800001u | ((ES_Rate & 0x3FFFFFu) << 1));
    p += 3;
  }
  if (DSM_TrickModeFlag) {
    std::uint8_t t = static_cast<std::uint8_t>((TrickModeControl & 7) << 5);
    switch (TrickModeControl) {
      case 0:
      case 3:
        t |= static_cast<std::uint8_t>(((FieldID & 3) << 3) | (IntraSliceRefresh ? 4 : 0) | (FrequencyTruncation & 3));
        break;
      case 1:
      case 4:
        t |= FieldRepCntrl & 0x1F;
        break;
      case 2:
        t |= static_cast<std::uint8_t>(((FieldID & 3) << 3) | (TrickModeReserved & 7));
        break;
      default:
        t |= TrickModeReserved & 0x1F;
        break;
    }
    *p++ = t;
  }
  if (AdditionalCopyInfoFlag) *p++ = static_cast<std::uint8_t>(0x80 | (AdditionalCopyInfo & 0x7F));
  if (PES_CRC_Flag) {
    store_be16(p, PreviousPES_PacketCRC);
    p += 2;
  }
  if (PES_ExtensionFlag) {
    *p++ = static_cast<std::uint8_t>((PES_PrivateDataFlag ? 0x80 : 0) | (PackHeaderFieldFlag ? 0x40 : 0) |
                                     (ProgramPacketSequenceCounterFlag ? 0x20 : 0) | (P_STD_BufferFlag ? 0x10 : 0) |
                                     0x0E | (PES_ExtensionFlag2 ? 0x01 : 0));
    if (PES_PrivateDataFlag) {
      std::memcpy(p, PES_PrivateData.data(), 16);
      p += 16;
    }
    if (PackHeaderFieldFlag) {
      *p++ = static_cast<std::uint8_t>(PackHeader.size());
      if (!PackHeader.empty()) std::memcpy(p, PackHeader.data(), PackHeader.size());
      p += PackHeader.size();
    }
    if (ProgramPacketSequenceCounterFlag) {
      *p++ = static_cast<std::uint8_t>(0x80 | (ProgramPacketSequenceCounter & 0x7F));
      *p++ = static_cast<std::uint8_t>(0x80 | (MPEG1_MPEG2_Identifier ? 0x40 : 0) | (OrigianlStuffLength & 0x3F));
    }
    if (P_STD_BufferFlag) {
      store_be16(p, static_cast<std::uint16_t>(0x4000 | (P_STD_BufferScale ? 0x2000 : 0) | (P_STD_BufferSize & 0x1FFF)));
      p += 2;
    }
    if (PES_ExtensionFlag2) {
      *p++ = static_cast<std::uint8_t>(0x80 | PES_ExtensionField.size());
      if (!PES_ExtensionField.empty()) std::memcpy(p, PES_ExtensionField.data(), PES_ExtensionField.size());
      p += PES_ExtensionField.size();
    }
  }
  std::memset(p, 0xFF, StuffingSize);
  return size;
}

int ts_payload_offset(const std::uint8_t* packet) {
  if (packet[0] != kSyncByte) return 0;
  const std::uint8_t afc = (packet[3] >> 4) & 3;
  if (afc < 2) return 4;
  const int end = 5 + packet[4];
  return end <= static_cast<int>(kTsPacketSize) ? end : 0;
}

}  // namespace veld
