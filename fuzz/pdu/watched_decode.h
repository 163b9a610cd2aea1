#pragma once

#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "reception/data_buffer.h"
#include "reception/smb/smb_constants.h"

// Decoding under watch: every way a unit can be decoded, arranged so that AddressSanitizer sees
// any read past the bytes the decoder was given.
namespace fuzz {

// The fuzzer's bytes as one receive: at most a buffer's worth.
inline std::span<const std::uint8_t> AsReceived(const std::uint8_t* data, std::size_t size) {
    return {data, std::min<std::size_t>(size, CDataBuffer::kCapacity)};
}

// Decodes through the buffer interface. A CDataBuffer is a fixed 1024-byte array, so a read
// past its length would still land in valid memory: the bytes past the length are poisoned
// while the decoder runs. The buffer is on the heap, its array first and 16-byte aligned, so the
// poisoned range ends on a shadow granule and is covered exactly.
template <typename Pdu>
bool DecodeFromPoisonedBuffer(Pdu& pdu, std::span<const std::uint8_t> received) {
    auto buffer = std::make_unique<CDataBuffer>();
    std::fill_n(buffer->Data(), CDataBuffer::kCapacity, std::uint8_t{0xA5});
    buffer->Write(received.data(), static_cast<int>(received.size()));
    std::uint8_t* tail = buffer->Data() + buffer->Length();
    const auto tail_size = static_cast<std::size_t>(CDataBuffer::kCapacity - buffer->Length());
    ASAN_POISON_MEMORY_REGION(tail, tail_size);
    const bool ok = pdu.Decode(*buffer);
    ASAN_UNPOISON_MEMORY_REGION(tail, tail_size);
    return ok;
}

// Decodes from a heap block of exactly the given size.
template <typename Pdu>
bool DecodeFromExactCopy(Pdu& pdu, std::span<const std::uint8_t> bytes) {
    auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return pdu.DecodeBytes({copy.get(), bytes.size()});
}

// Whether a received unit is one the decoder must accept: the header, the words and the byte
// count fit, and the data lies inside the bytes.
inline bool UnitFits(std::span<const std::uint8_t> b) {
    if (b.size() < static_cast<std::size_t>(smb::kHeaderSize)) {
        return false;
    }
    const std::size_t words_end = smb::kWordsOffset + 2u * b[smb::kWordCountOffset];
    if (words_end + 2 > b.size()) {
        return false;
    }
    const std::size_t count = b[words_end] | (b[words_end + 1] << 8);
    return count <= static_cast<std::size_t>(smb::kMaxBytes) && words_end + 2 + count <= b.size();
}

inline std::size_t UnitSize(std::span<const std::uint8_t> b) {
    const std::size_t words_end = smb::kWordsOffset + 2u * b[smb::kWordCountOffset];
    return words_end + 2 + (b[words_end] | (b[words_end + 1] << 8));
}

inline void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace fuzz
