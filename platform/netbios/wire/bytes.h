#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Big-endian readers and writers for the NetBIOS wire formats. The reader never reads outside the
// span it was given: every read checks the bytes left and fails (reading nothing) when short.
namespace platform::netbios::wire {

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes, std::size_t pos = 0)
        : bytes_(bytes), pos_(pos <= bytes.size() ? pos : bytes.size()) {}

    bool U8(std::uint8_t& v) {
        if (remaining() < 1) {
            return false;
        }
        v = bytes_[pos_++];
        return true;
    }
    bool U16(std::uint16_t& v) {
        if (remaining() < 2) {
            return false;
        }
        v = static_cast<std::uint16_t>(bytes_[pos_] << 8 | bytes_[pos_ + 1]);
        pos_ += 2;
        return true;
    }
    bool U32(std::uint32_t& v) {
        if (remaining() < 4) {
            return false;
        }
        v = static_cast<std::uint32_t>(bytes_[pos_]) << 24 |
            static_cast<std::uint32_t>(bytes_[pos_ + 1]) << 16 |
            static_cast<std::uint32_t>(bytes_[pos_ + 2]) << 8 | bytes_[pos_ + 3];
        pos_ += 4;
        return true;
    }
    bool Bytes(std::size_t n, std::span<const std::uint8_t>& out) {
        if (remaining() < n) {
            return false;
        }
        out = bytes_.subspan(pos_, n);
        pos_ += n;
        return true;
    }
    bool Skip(std::size_t n) {
        if (remaining() < n) {
            return false;
        }
        pos_ += n;
        return true;
    }

    std::size_t pos() const { return pos_; }
    std::size_t remaining() const { return bytes_.size() - pos_; }
    std::span<const std::uint8_t> all() const { return bytes_; }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_;
};

class Writer {
  public:
    explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}

    void U8(std::uint8_t v) { out_.push_back(v); }
    void U16(std::uint16_t v) {
        out_.push_back(static_cast<std::uint8_t>(v >> 8));
        out_.push_back(static_cast<std::uint8_t>(v));
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v >> 16));
        U16(static_cast<std::uint16_t>(v));
    }
    void Bytes(std::span<const std::uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
    // Little-endian, for the SMB fields inside datagrams.
    void U16Le(std::uint16_t v) {
        out_.push_back(static_cast<std::uint8_t>(v));
        out_.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    std::size_t size() const { return out_.size(); }

  private:
    std::vector<std::uint8_t>& out_;
};

}  // namespace platform::netbios::wire
