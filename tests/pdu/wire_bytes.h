#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "reception/data_buffer.h"

// SMB message units and datagrams as bytes, as senders write them.
using Bytes = std::vector<std::uint8_t>;

// The bytes of a literal, its final NUL excluded and inner NULs kept.
template <std::size_t N>
Bytes BytesOf(const char (&s)[N]) {
    return Bytes(s, s + N - 1);
}
inline Bytes BytesOf(const CDataBuffer& b) {
    return {b.Bytes().begin(), b.Bytes().end()};
}
inline Bytes BytesOf(std::string_view s) {
    return {s.begin(), s.end()};
}

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline CDataBuffer BufferOf(const Bytes& bytes) {
    CDataBuffer b;
    b.Write(bytes.data(), static_cast<int>(bytes.size()));
    return b;
}

// A unit with a zeroed header; the counts are those of words and data unless given.
inline Bytes SmbUnit(std::uint8_t command, const Bytes& data, std::vector<std::uint16_t> words = {},
                     int word_count = -1, int byte_count = -1) {
    Bytes u = {0xFF, 'S', 'M', 'B', command};
    u.resize(32, 0);
    u.push_back(static_cast<std::uint8_t>(word_count < 0 ? words.size() : word_count));
    const int b = byte_count < 0 ? static_cast<int>(data.size()) : byte_count;
    for (int v : words) {
        u.insert(u.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
    }
    u.insert(u.end(), {static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(b >> 8)});
    return Concat(u, data);
}

// The message units with their strings (format 4) and text blocks (format 1).
namespace smb {
inline Bytes Names(std::string_view origin, std::string_view recipient) {
    return Concat(Concat(Concat({4}, BytesOf(origin)), Concat({0, 4}, BytesOf(recipient))), {0});
}
inline Bytes Block(std::string_view text) {
    return Concat(
        {1, static_cast<std::uint8_t>(text.size()), static_cast<std::uint8_t>(text.size() >> 8)},
        BytesOf(text));
}
inline Bytes SingleBlock(std::string_view origin, std::string_view recipient,
                         std::string_view text) {
    return SmbUnit(0xD0, Concat(Names(origin, recipient), Block(text)));
}
inline Bytes Start(std::string_view origin, std::string_view recipient) {
    return SmbUnit(0xD5, Names(origin, recipient));
}
inline Bytes Text(std::uint16_t group, std::string_view text) {
    return SmbUnit(0xD7, Block(text), {group});
}
inline Bytes End(std::uint16_t group) {
    return SmbUnit(0xD6, {}, {group});
}
}  // namespace smb
