#include "platform/netbios/wire/mailslot_write.h"

#include <algorithm>
#include <cctype>

#include "platform/netbios/wire/bytes.h"

namespace platform::netbios::wire {
namespace {

constexpr std::size_t kSmbHeaderSize = 32;
constexpr std::uint8_t kCommandTransaction = 0x25;
constexpr std::uint16_t kOpcodeWrite = 1;
constexpr std::size_t kMaxNameSize = 255;
// Word offsets inside the parameter words of the transaction request.
constexpr std::size_t kTotalDataCount = 2;
constexpr std::size_t kDataCount = 22;
constexpr std::size_t kDataOffset = 24;
constexpr std::size_t kSetupCount = 26;
constexpr std::size_t kSetup = 28;
constexpr std::uint8_t kWordCount = 17;

std::uint16_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

bool StartsWithMailslot(std::string_view name) {
    if (name.size() < kMailslotPrefix.size()) {
        return false;
    }
    return std::equal(
        kMailslotPrefix.begin(), kMailslotPrefix.end(), name.begin(),
        [](char a, char b) { return a == std::toupper(static_cast<unsigned char>(b)); });
}

}  // namespace

std::optional<MailslotWrite> DecodeMailslotWrite(std::span<const std::uint8_t> smb) {
    if (smb.size() < kSmbHeaderSize + 1 || smb[0] != 0xFF || smb[1] != 'S' || smb[2] != 'M' ||
        smb[3] != 'B' || smb[4] != kCommandTransaction) {
        return std::nullopt;
    }
    const std::size_t word_count = smb[kSmbHeaderSize];
    const std::size_t words = kSmbHeaderSize + 1;
    const std::size_t byte_count_at = words + 2 * word_count;
    if (word_count < 15 || smb.size() < byte_count_at + 2) {
        return std::nullopt;
    }
    const auto w = smb.subspan(words, 2 * word_count);
    const std::size_t setup_count = w[kSetupCount];
    if (setup_count < 1 || word_count < 14 + setup_count) {
        return std::nullopt;
    }
    MailslotWrite m;
    if (Le16(w, kSetup) != kOpcodeWrite) {
        return std::nullopt;
    }
    if (setup_count >= 2) {
        m.priority = Le16(w, kSetup + 2);
    }
    if (setup_count >= 3) {
        m.mailslot_class = Le16(w, kSetup + 4);
    }
    const std::size_t total = Le16(w, kTotalDataCount);
    const std::size_t count = Le16(w, kDataCount);
    const std::size_t offset = Le16(w, kDataOffset);
    // A transaction continued in secondary requests: mailslot writes never are.
    if (count < total) {
        return std::nullopt;
    }
    const std::size_t bytes_at = byte_count_at + 2;
    const std::size_t bytes_size =
        std::min<std::size_t>(Le16(smb, byte_count_at), smb.size() - bytes_at);
    const auto bytes = smb.subspan(bytes_at, bytes_size);
    const auto nul = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    if (nul == bytes.end()) {
        return std::nullopt;
    }
    m.name.assign(bytes.begin(), nul);
    if (m.name.size() > kMaxNameSize || !StartsWithMailslot(m.name)) {
        return std::nullopt;
    }
    // The data lies in the data bytes after the name: never in the header, the parameter words
    // or the name.
    const std::size_t data_at = bytes_at + m.name.size() + 1;
    if (offset < data_at || offset > smb.size() || smb.size() - offset < count) {
        return std::nullopt;
    }
    m.data = smb.subspan(offset, count);
    return m;
}

std::vector<std::uint8_t> EncodeMailslotWrite(std::string_view name,
                                              std::span<const std::uint8_t> data,
                                              std::uint16_t mailslot_class) {
    const std::size_t bytes_at = kSmbHeaderSize + 1 + 2 * kWordCount + 2;
    const std::size_t data_offset = bytes_at + name.size() + 1;
    std::vector<std::uint8_t> out = {0xFF, 'S', 'M', 'B', kCommandTransaction};
    out.resize(kSmbHeaderSize, 0);
    Writer w(out);
    w.U8(kWordCount);
    const auto n = static_cast<std::uint16_t>(data.size());
    w.U16Le(0);  // total parameter count
    w.U16Le(n);  // total data count
    w.U16Le(0);  // max parameter count
    w.U16Le(0);  // max data count
    w.U8(0);     // max setup count
    w.U8(0);
    w.U16Le(0);  // flags
    w.U16Le(0);  // timeout (4 bytes)
    w.U16Le(0);
    w.U16Le(0);                                        // reserved
    w.U16Le(0);                                        // parameter count
    w.U16Le(static_cast<std::uint16_t>(data_offset));  // parameter offset
    w.U16Le(n);
    w.U16Le(static_cast<std::uint16_t>(data_offset));
    w.U8(3);  // setup count
    w.U8(0);
    w.U16Le(kOpcodeWrite);
    w.U16Le(0);  // priority
    w.U16Le(mailslot_class);
    w.U16Le(static_cast<std::uint16_t>(name.size() + 1 + data.size()));
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);
    w.Bytes(data);
    return out;
}

}  // namespace platform::netbios::wire
