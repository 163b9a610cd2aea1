#pragma once

#include <string>

#include "reception/smb/smb_pdu.h"

// Send text of multi-block message (0xD7): one block of the text. The group identifier the sender
// puts in word 0 is not examined.
class CSmbPdu_sendtxt : public CSmbPdu {
  public:
    // Data bytes: 0x01 length(2) text, written only when the text is set; the text is cut to 255
    // bytes, the most the one-byte length can state.
    void Encode(CDataBuffer& buffer) override;
    // The length's low byte is at data position 1, the text from position 3 inside the byte count.
    bool DecodeBytes(std::span<const std::uint8_t> unit) override;
    void Reset() override;

    std::string text;
};
