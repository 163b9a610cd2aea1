#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// NetBIOS names: 16 raw bytes (15 padded with spaces, then the suffix byte), compared as raw
// bytes, and their first-level encoding on the wire (RFC 1001 section 14.1): a 32-letter label of
// the nibbles plus 'A', then the scope labels and a zero byte.
namespace platform::netbios::wire {

inline constexpr std::size_t kNameSize = 16;
using NetbiosName = std::array<std::uint8_t, kNameSize>;

// Length of an encoded name without scope: length byte, 32 letters, terminating zero.
inline constexpr std::size_t kEncodedNameSize = 34;

// base cut to 15 bytes and padded with spaces, then the suffix.
NetbiosName MakeName(std::string_view base, std::uint8_t suffix);
// The wildcard "*" padded with zero bytes, as node status queries and broadcasts use it.
NetbiosName WildcardName();
bool IsWildcard(const NetbiosName& name);
// "BASE<xx>" with trailing spaces removed, for messages and tests.
std::string NameText(const NetbiosName& name);

// Appends the encoded name without scope.
void EncodeName(const NetbiosName& name, std::vector<std::uint8_t>& out);

struct DecodedName {
    NetbiosName name{};
    bool scoped = false;  // carried scope labels: another NetBIOS scope than ours
};

// Decodes the name at offset inside message and advances offset past it. Label pointers
// (0xC0xx) are followed only when allowed (name service packets); each must point backwards and
// at most a few are followed. nullopt for anything malformed; offset is then unchanged.
std::optional<DecodedName> DecodeName(std::span<const std::uint8_t> message, std::size_t& offset,
                                      bool allow_pointers);

}  // namespace platform::netbios::wire
