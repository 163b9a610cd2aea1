#pragma once

#include <array>
#include <cstdint>

// Wire constants of the SMB message commands: the fixed header, the four command codes and the
// buffer formats that introduce the strings and the text block in the data bytes.
namespace smb {

// 0xFF followed by the letters S, M, B.
inline constexpr std::array<std::uint8_t, 4> kProtocol = {0xFF, 0x53, 0x4D, 0x42};

inline constexpr std::uint8_t kSendSingleBlock = 0xD0;  // send single block message
inline constexpr std::uint8_t kSendStart = 0xD5;        // send start of multi-block message
inline constexpr std::uint8_t kSendEnd = 0xD6;          // send end of multi-block message
inline constexpr std::uint8_t kSendText = 0xD7;         // send text of multi-block message

// Offsets of the fixed header fields; the words start right after the word count.
inline constexpr int kCommandOffset = 4;
inline constexpr int kReservedBlockSize = 14;
inline constexpr int kWordCountOffset = 32;
inline constexpr int kWordsOffset = 33;

// A unit without words and data bytes: the fixed header, the word count and the byte count.
inline constexpr int kHeaderSize = 35;

// The unit classes keep parameters and data in fixed arrays; one unit arrives in one receive of
// at most 1024 bytes.
inline constexpr int kMaxWords = 256;
inline constexpr int kMaxBytes = 1024;
inline constexpr int kMaxUnitSize = 1024;

// Buffer formats of the core protocol.
inline constexpr std::uint8_t kFormatDataBlock = 0x01;  // 16-bit length, then the data
inline constexpr std::uint8_t kFormatString = 0x04;     // zero-terminated string

// The text block's length is written as one byte followed by 0x00, and only that byte is read.
inline constexpr int kMaxTextBlock = 255;

}  // namespace smb
