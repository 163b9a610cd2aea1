#include "reception/mailslot/mailslot_pdu.h"

#include <algorithm>
#include <string_view>

#include "platform/codepage/codepage.h"

namespace cp = platform::codepage;

namespace {

// The bytes from pos up to the next 0x00 or the end; pos steps over the 0x00 when there is one.
std::string TakeField(std::span<const std::uint8_t> bytes, std::size_t& pos) {
    const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(pos);
    const auto end = std::find(begin, bytes.end(), std::uint8_t{0});
    std::string field(begin, end);
    pos = static_cast<std::size_t>(end - bytes.begin());
    if (end != bytes.end()) {
        ++pos;
    }
    return field;
}

// Appends one field and its 0x00, cutting the field to leave room for the terminators still to
// come (this one included).
void PutField(CDataBuffer& buffer, std::string_view oem, int terminators_left) {
    oem = oem.substr(0, oem.find('\0'));
    const int room = std::max(CDataBuffer::kCapacity - buffer.Length() - terminators_left, 0);
    const auto n = std::min(oem.size(), static_cast<std::size_t>(room));
    buffer.Write(oem.data(), static_cast<int>(n));
    buffer.WriteByte(0x00);
}

}  // namespace

bool CMailslotPdu::DecodeBytes(std::span<const std::uint8_t> datagram) {
    std::size_t pos = 0;
    const std::string o = TakeField(datagram, pos);
    const std::string r = TakeField(datagram, pos);
    const std::string t = TakeField(datagram, pos);
    origin = cp::OemToUtf8(o);
    recipient = cp::OemToUtf8(r);
    text = cp::OemToUtf8(t);
    return true;
}

void CMailslotPdu::Encode(CDataBuffer& buffer) {
    buffer.Reset();
    PutField(buffer, cp::Utf8ToOem(origin), 3);
    PutField(buffer, cp::Utf8ToOem(recipient), 2);
    PutField(buffer, cp::Utf8ToOem(text), 1);
}
