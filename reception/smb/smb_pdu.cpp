#include "reception/smb/smb_pdu.h"

#include <algorithm>

namespace {

// Reads little-endian fields from a span; every read is checked by the caller's size test first.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t Remaining() const { return bytes_.size() - pos_; }
    std::uint8_t U8() { return bytes_[pos_++]; }
    std::uint16_t U16() {
        auto lo = bytes_[pos_];
        auto hi = bytes_[pos_ + 1];
        pos_ += 2;
        return static_cast<std::uint16_t>(lo | (hi << 8));
    }
    template <std::size_t N>
    void Copy(std::array<std::uint8_t, N>& out, std::size_t n) {
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_), n, out.begin());
        pos_ += n;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

void PutU16(CDataBuffer& buffer, std::uint16_t v) {
    const std::uint8_t le[2] = {static_cast<std::uint8_t>(v & 0xFF),
                                static_cast<std::uint8_t>(v >> 8)};
    buffer.Write(le, 2);
}

}  // namespace

void CSmbPdu::Reset() {
    protocol = smb::kProtocol;
    command = 0;
    error_class = 0;
    reserved = 0;
    error_code = 0;
    flags = 0;
    reserved_block.fill(0);
    tid = pid = uid = mid = 0;
    word_count = 0;
    words.fill(0);
    byte_count = 0;
    bytes.fill(0);
}

int CSmbPdu::DataRoom() const {
    return std::min(smb::kMaxBytes, smb::kMaxUnitSize - smb::kHeaderSize - 2 * word_count);
}

void CSmbPdu::Encode(CDataBuffer& buffer) {
    buffer.Reset();
    buffer.Write(protocol.data(), static_cast<int>(protocol.size()));
    buffer.WriteByte(command);
    buffer.WriteByte(error_class);
    buffer.WriteByte(reserved);
    PutU16(buffer, error_code);
    buffer.WriteByte(flags);
    buffer.Write(reserved_block.data(), static_cast<int>(reserved_block.size()));
    PutU16(buffer, tid);
    PutU16(buffer, pid);
    PutU16(buffer, uid);
    PutU16(buffer, mid);
    // The word count is one byte, so the words (at most 255) always fit behind the header. Only
    // the data can outgrow the buffer, and only for a unit filled by hand: the system's own replies
    // carry no data and at most one word (37 bytes).
    buffer.WriteByte(word_count);
    for (int i = 0; i < word_count; ++i) {
        PutU16(buffer, words[static_cast<std::size_t>(i)]);
    }
    const auto n = static_cast<std::uint16_t>(std::min<int>(byte_count, DataRoom()));
    PutU16(buffer, n);
    buffer.Write(bytes.data(), n);
}

bool CSmbPdu::DecodeBytes(std::span<const std::uint8_t> unit) {
    // The base part only: a unit that fails to decode must not look like any command.
    CSmbPdu::Reset();
    if (unit.size() < static_cast<std::size_t>(smb::kHeaderSize)) {
        return false;
    }
    Reader in(unit);
    in.Copy(protocol, protocol.size());
    command = in.U8();
    error_class = in.U8();
    reserved = in.U8();
    error_code = in.U16();
    flags = in.U8();
    in.Copy(reserved_block, reserved_block.size());
    tid = in.U16();
    pid = in.U16();
    uid = in.U16();
    mid = in.U16();
    const std::uint8_t w = in.U8();
    // The words and the byte count behind them must lie inside the received bytes.
    if (in.Remaining() < 2u * w + 2u) {
        CSmbPdu::Reset();
        return false;
    }
    for (std::size_t i = 0; i < w; ++i) {
        words[i] = in.U16();
    }
    const std::uint16_t b = in.U16();
    if (b > smb::kMaxBytes || in.Remaining() < b) {
        CSmbPdu::Reset();
        return false;
    }
    in.Copy(bytes, b);
    word_count = w;
    byte_count = b;
    return true;
}
