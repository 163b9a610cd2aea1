#pragma once

#include <array>
#include <cstdint>
#include <span>

// The 1024-byte buffer in which ports, connections and protocol data units exchange bytes. The
// length is also the position of the next write; reads advance a separate read position. Reads
// and writes that would run past the valid bytes or the capacity are refused whole.
class CDataBuffer {
  public:
    static constexpr int kCapacity = 1024;

    CDataBuffer() = default;

    void Reset() {
        length_ = 0;
        read_pos_ = 0;
    }

    // Copies n bytes at the read position; false (and nothing copied) past the length.
    bool Read(void* destination, int n);
    // Appends n bytes at the length; false (and nothing written) past the capacity.
    bool Write(const void* source, int n);
    bool WriteByte(std::uint8_t b) { return Write(&b, 1); }

    void SetReadPos(int n) { read_pos_ = n < 0 ? 0 : (n > kCapacity ? kCapacity : n); }
    int ReadPos() const { return read_pos_; }

    int Length() const { return length_; }
    // The transports set the length to the number of bytes they received; kept within capacity.
    void SetLength(int n) { length_ = n < 0 ? 0 : (n > kCapacity ? kCapacity : n); }

    std::uint8_t* Data() { return data_.data(); }
    const std::uint8_t* Data() const { return data_.data(); }
    // The valid bytes.
    std::span<const std::uint8_t> Bytes() const {
        return {data_.data(), static_cast<std::size_t>(length_)};
    }

  private:
    std::array<std::uint8_t, kCapacity> data_{};
    int length_ = 0;
    int read_pos_ = 0;
};
