#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "reception/protocol_data_unit.h"

// One Messenger datagram: origin, recipient and text, each in the OEM code page and ended by a
// 0x00 byte, back to back with no header and no lengths. The recipient is carried, never
// interpreted.
class CMailslotPdu : public CProtocolDataUnit {
  public:
    // Resets the buffer and writes the three fields, each with its 0x00. Fields that would
    // overflow the buffer are cut (text first, then recipient, then origin), never the 0x00s.
    void Encode(CDataBuffer& buffer) override;
    // Reads the buffer's valid bytes; the read position is not used. Always true: any bytes are
    // a datagram (see DecodeBytes).
    bool Decode(const CDataBuffer& buffer) override { return DecodeBytes(buffer.Bytes()); }
    // Reads exactly these bytes. A missing 0x00 ends a field at the end of the datagram, missing
    // fields stay empty and anything after the text's 0x00 is ignored.
    bool DecodeBytes(std::span<const std::uint8_t> datagram);

    std::string origin;
    std::string recipient;
    std::string text;
};
