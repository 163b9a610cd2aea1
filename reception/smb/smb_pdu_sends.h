#pragma once

#include <string>

#include "reception/smb/smb_pdu.h"

// Send single block message (0xD0): origin, recipient and text in one unit. A new unit has only
// its base part set (command 0); Reset gives it its command code.
class CSmbPdu_sends : public CSmbPdu {
  public:
    // Data bytes: 0x04 origin 0x00 0x04 recipient 0x00 0x01 length(2) text, written only when
    // origin and recipient are both set. The text is cut to 255 bytes, the most the one-byte
    // length can state; strings that would overflow the unit are cut as well.
    void Encode(CDataBuffer& buffer) override;
    // The strings follow the position rules inside the byte count; the buffer-format bytes are
    // stepped over unexamined and only the length's low byte is read.
    bool DecodeBytes(std::span<const std::uint8_t> unit) override;
    void Reset() override;

    std::string origin;
    std::string recipient;
    std::string text;
};
