#include "bench/service/datagram.h"

#include "bench/service/session_client.h"

namespace {

void Put16(std::vector<std::uint8_t>& v, std::size_t value) {
    v.push_back(static_cast<std::uint8_t>(value));
    v.push_back(static_cast<std::uint8_t>(value >> 8));
}

}  // namespace

std::vector<std::uint8_t> MessengerDatagram(const std::string& origin, const std::string& to,
                                            const std::string& text) {
    std::string payload = origin + '\0' + to + '\0' + text + '\0';
    const std::string mailslot = std::string("\\MAILSLOT\\MESSNGR") + '\0';
    const std::size_t data_offset = 32 + 1 + 34 + 2 + mailslot.size();

    std::vector<std::uint8_t> smb{0xFF, 'S', 'M', 'B', 0x25};
    smb.resize(32, 0);
    smb.push_back(17);
    for (std::size_t w : {std::size_t{0}, payload.size(), std::size_t{0}, std::size_t{0}}) {
        Put16(smb, w);
    }
    smb.insert(smb.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // setup max, flags, timeout, reserved
    for (std::size_t w : {std::size_t{0}, data_offset, payload.size(), data_offset}) {
        Put16(smb, w);
    }
    smb.insert(smb.end(), {3, 0});
    for (std::size_t w : {1, 1, 2}) {
        Put16(smb, w);
    }
    Put16(smb, mailslot.size() + payload.size());
    smb.insert(smb.end(), mailslot.begin(), mailslot.end());
    smb.insert(smb.end(), payload.begin(), payload.end());

    auto source = EncodeNetbiosName("BENCHPC", 0x00);
    auto destination = EncodeNetbiosName("WORKGROUP", 0x00);
    std::size_t length = source.size() + destination.size() + smb.size();
    std::vector<std::uint8_t> d{0x11,
                                0x02,
                                0x12,
                                0x34,
                                127,
                                0,
                                0,
                                1,
                                0,
                                138,
                                static_cast<std::uint8_t>(length >> 8),
                                static_cast<std::uint8_t>(length),
                                0,
                                0};
    d.insert(d.end(), source.begin(), source.end());
    d.insert(d.end(), destination.begin(), destination.end());
    d.insert(d.end(), smb.begin(), smb.end());
    return d;
}
