#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "reception/data_buffer.h"

using Bytes = std::vector<std::uint8_t>;

inline Bytes FromHex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), 0, 16)));
    }
    return out;
}

// The bytes of a literal, its final NUL excluded and inner NULs kept.
template <std::size_t N>
Bytes BytesOf(const char (&s)[N]) {
    return Bytes(s, s + N - 1);
}
inline Bytes BytesOf(const CDataBuffer& b) {
    return {b.Bytes().begin(), b.Bytes().end()};
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

// The captured units of `smbclient -M testuser` (Samba 4.17) sending from "sender".
inline constexpr std::string_view kSambaStart =
    "ff534d42d50000000000000000000000000000000000000000008919000000000012000473656e646572000474"
    "6573747573657200";
inline constexpr std::string_view kSambaText =
    "ff534d42d70000000000000000000000000000000000000000008919000000000101002a0001270048656c6c6f"
    "2066726f6d20736d62636c69656e740d0a7365636f6e64206c696e65208494810d0a";
inline constexpr std::string_view kSambaEnd =
    "ff534d42d60000000000000000000000000000000000000000008919000000000101000000";
