#include "platform/netbios/wire/name.h"

#include <algorithm>
#include <cstdio>

namespace platform::netbios::wire {
namespace {

constexpr int kMaxPointerJumps = 8;
constexpr std::size_t kMaxScopeSize = 255;

}  // namespace

NetbiosName MakeName(std::string_view base, std::uint8_t suffix) {
    NetbiosName name;
    name.fill(' ');
    std::copy_n(base.begin(), std::min(base.size(), kNameSize - 1), name.begin());
    name[kNameSize - 1] = suffix;
    return name;
}

NetbiosName WildcardName() {
    NetbiosName name{};
    name[0] = '*';
    return name;
}

bool IsWildcard(const NetbiosName& name) {
    return name == WildcardName();
}

std::string NameText(const NetbiosName& name) {
    std::string base(name.begin(), name.begin() + kNameSize - 1);
    while (!base.empty() && (base.back() == ' ' || base.back() == '\0')) {
        base.pop_back();
    }
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "<%02X>", name[kNameSize - 1]);
    return base + suffix;
}

void EncodeName(const NetbiosName& name, std::vector<std::uint8_t>& out) {
    out.push_back(32);
    for (std::uint8_t b : name) {
        out.push_back(static_cast<std::uint8_t>('A' + (b >> 4)));
        out.push_back(static_cast<std::uint8_t>('A' + (b & 0x0F)));
    }
    out.push_back(0);
}

std::optional<DecodedName> DecodeName(std::span<const std::uint8_t> message, std::size_t& offset,
                                      bool allow_pointers) {
    DecodedName result;
    std::size_t pos = offset;
    std::optional<std::size_t> after;  // where the caller continues: past the first pointer
    int jumps = 0;
    bool have_name = false;
    std::size_t scope_size = 0;
    for (;;) {
        if (pos >= message.size()) {
            return std::nullopt;
        }
        const std::uint8_t len = message[pos];
        if ((len & 0xC0) == 0xC0) {
            if (!allow_pointers || pos + 1 >= message.size() || ++jumps > kMaxPointerJumps) {
                return std::nullopt;
            }
            const std::size_t target = static_cast<std::size_t>(len & 0x3F) << 8 | message[pos + 1];
            // Pointing backwards keeps every walk finite together with the jump limit.
            if (target >= pos) {
                return std::nullopt;
            }
            if (!after) {
                after = pos + 2;
            }
            pos = target;
            continue;
        }
        if ((len & 0xC0) != 0) {
            return std::nullopt;  // reserved label types
        }
        if (len == 0) {
            if (!have_name) {
                return std::nullopt;
            }
            if (!after) {
                after = pos + 1;
            }
            break;
        }
        if (message.size() - pos - 1 < len) {
            return std::nullopt;
        }
        const std::uint8_t* label = message.data() + pos + 1;
        if (!have_name) {
            if (len != 2 * kNameSize) {
                return std::nullopt;
            }
            for (std::size_t i = 0; i < kNameSize; ++i) {
                const std::uint8_t hi = label[2 * i];
                const std::uint8_t lo = label[2 * i + 1];
                if (hi < 'A' || hi > 'P' || lo < 'A' || lo > 'P') {
                    return std::nullopt;
                }
                result.name[i] = static_cast<std::uint8_t>((hi - 'A') << 4 | (lo - 'A'));
            }
            have_name = true;
        } else {
            scope_size += len + 1u;
            if (scope_size > kMaxScopeSize) {
                return std::nullopt;
            }
            result.scoped = true;
        }
        pos += 1u + len;
    }
    offset = *after;
    return result;
}

}  // namespace platform::netbios::wire
