#pragma once

#include <string>

#include "reception/smb/smb_pdu.h"

// Send start of multi-block message (0xD5): origin and recipient. The reply carries the message
// group identifier in word 0, which whoever replies puts there.
class CSmbPdu_sendstrt : public CSmbPdu {
  public:
    // Data bytes: 0x04 origin 0x00 0x04 recipient 0x00, written only when both are set.
    void Encode(CDataBuffer& buffer) override;
    // The strings follow the position rules inside the byte count.
    bool DecodeBytes(std::span<const std::uint8_t> unit) override;
    void Reset() override;

    std::string origin;
    std::string recipient;
};
