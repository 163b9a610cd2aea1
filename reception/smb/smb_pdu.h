#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "reception/protocol_data_unit.h"
#include "reception/smb/smb_constants.h"

// One SMB unit held in the fields of the core header. The fields are public: a unit is a plain
// value made on the stack by whoever sends or receives it. Only the first word_count words and
// the first byte_count bytes are significant.
class CSmbPdu : public CProtocolDataUnit {
  public:
    CSmbPdu() { CSmbPdu::Reset(); }

    // Resets the buffer and writes the unit. A unit that would not fit the buffer has its data
    // bytes cut (the byte count written says how many follow), so nothing is written past it.
    void Encode(CDataBuffer& buffer) override;
    // Reads the unit from the buffer's valid bytes.
    bool Decode(const CDataBuffer& buffer) final { return DecodeBytes(buffer.Bytes()); }
    // Reads the unit from exactly these bytes. False when they are shorter than the header or the
    // word or byte count runs past them (or past the fixed arrays); the unit is then as newly
    // constructed. Bytes after the data are ignored. Neither the protocol bytes nor the command
    // are examined here.
    virtual bool DecodeBytes(std::span<const std::uint8_t> unit);
    // Sets the protocol bytes and zeroes every other field.
    virtual void Reset();

    std::array<std::uint8_t, 4> protocol{};
    std::uint8_t command = 0;
    std::uint8_t error_class = 0;
    std::uint8_t reserved = 0;
    std::uint16_t error_code = 0;
    std::uint8_t flags = 0;
    std::array<std::uint8_t, smb::kReservedBlockSize> reserved_block{};
    std::uint16_t tid = 0;
    std::uint16_t pid = 0;
    std::uint16_t uid = 0;
    std::uint16_t mid = 0;
    std::uint8_t word_count = 0;
    std::array<std::uint16_t, smb::kMaxWords> words{};
    std::uint16_t byte_count = 0;
    std::array<std::uint8_t, smb::kMaxBytes> bytes{};

  protected:
    // The significant data bytes.
    std::span<const std::uint8_t> Data() const {
        return {bytes.data(), static_cast<std::size_t>(byte_count)};
    }
    // Room for data bytes behind the header and the words when the unit is encoded: at least 479
    // bytes, as the word count is one byte.
    int DataRoom() const;
    // The part of the data array that encoding may fill.
    std::span<std::uint8_t> DataArea() {
        return std::span<std::uint8_t>(bytes).first(static_cast<std::size_t>(DataRoom()));
    }
};
