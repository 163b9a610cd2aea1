#include "reception/smb/smb_pdu_sendstrt.h"

#include "platform/codepage/codepage.h"
#include "reception/smb/smb_data.h"

namespace cp = platform::codepage;

void CSmbPdu_sendstrt::Reset() {
    CSmbPdu::Reset();
    command = smb::kSendStart;
    origin.clear();
    recipient.clear();
}

void CSmbPdu_sendstrt::Encode(CDataBuffer& buffer) {
    byte_count = 0;
    if (!origin.empty() && !recipient.empty()) {
        const std::string oem_origin = cp::Utf8ToOem(origin);
        const std::string oem_recipient = cp::Utf8ToOem(recipient);
        constexpr std::size_t kFixed = 4;  // two format bytes and two terminators
        const auto area = DataArea();
        std::size_t budget = area.size() - kFixed;
        smb::DataWriter out(area);
        smb::PutNames(out, oem_origin, oem_recipient, budget);
        byte_count = static_cast<std::uint16_t>(out.size());
    }
    CSmbPdu::Encode(buffer);
}

bool CSmbPdu_sendstrt::DecodeBytes(std::span<const std::uint8_t> unit) {
    origin.clear();
    recipient.clear();
    if (!CSmbPdu::DecodeBytes(unit)) {
        return false;
    }
    const auto data = Data();
    std::size_t pos = 0;
    const smb::Names names = smb::TakeNames(data, pos);
    origin = cp::OemToUtf8(names.origin);
    recipient = cp::OemToUtf8(names.recipient);
    return true;
}
