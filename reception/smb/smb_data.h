#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Reading and writing the strings and text blocks in a unit's data bytes. Reads follow position
// rules that never look at or past the end of the data; writes never pass the room they are given.
namespace smb {

// The bytes from pos up to the first 0x00 or the end of the data; pos ends on the 0x00 (or the
// end). A pos at or past the end yields an empty string.
std::string TakeString(std::span<const std::uint8_t> data, std::size_t& pos);

// Up to n bytes from pos, fewer when the data ends first; pos advances past them.
std::string TakeBytes(std::span<const std::uint8_t> data, std::size_t& pos, std::size_t n);

// The byte at pos, or 0 when pos is past the data.
std::uint8_t ByteAt(std::span<const std::uint8_t> data, std::size_t pos);

// The prefix of s that fits within budget bytes (and within limit), which it uses up.
std::string_view Cut(std::string_view s, std::size_t& budget, std::size_t limit = SIZE_MAX);

// A zero-terminated field ends at its first 0x00, so a string that holds one is cut there.
std::string_view UpToNul(std::string_view s);

// The origin and recipient that open the data of a start or single block unit, as OEM bytes.
struct Names {
    std::string origin;
    std::string recipient;
};

// Reads both names by position, skipping the format bytes unexamined; pos ends on the
// recipient's 0x00 (or the end of the data).
Names TakeNames(std::span<const std::uint8_t> data, std::size_t& pos);

// The text of a data block (0x01, a two-byte length, the bytes) that starts at pos; pos ends past
// what was read.
std::string TakeTextBlock(std::span<const std::uint8_t> data, std::size_t& pos);

class DataWriter;
// Writes 0x04, origin, 0x00, 0x04, recipient, 0x00, cutting each name to what budget leaves;
// budget must already exclude the four format and terminator bytes.
void PutNames(DataWriter& out, std::string_view oem_origin, std::string_view oem_recipient,
              std::size_t& budget);
// Writes a data block of as much of the text as budget (and the block's limit) leaves; budget must
// already exclude the block's format and length bytes.
void PutTextBlock(DataWriter& out, std::string_view oem_text, std::size_t& budget);

// Appends bytes to a fixed area; what does not fit is dropped.
class DataWriter {
  public:
    explicit DataWriter(std::span<std::uint8_t> out) : out_(out) {}

    void Put(std::uint8_t b);
    void Put(std::string_view s);
    std::size_t size() const { return size_; }

  private:
    std::span<std::uint8_t> out_;
    std::size_t size_ = 0;
};

}  // namespace smb
