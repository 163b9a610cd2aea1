#include "reception/smb/smb_pdu_sends.h"

#include "platform/codepage/codepage.h"
#include "reception/smb/smb_data.h"

namespace cp = platform::codepage;

void CSmbPdu_sends::Reset() {
    CSmbPdu::Reset();
    command = smb::kSendSingleBlock;
    origin.clear();
    recipient.clear();
    text.clear();
}

void CSmbPdu_sends::Encode(CDataBuffer& buffer) {
    byte_count = 0;
    if (!origin.empty() && !recipient.empty()) {
        const std::string oem_origin = cp::Utf8ToOem(origin);
        const std::string oem_recipient = cp::Utf8ToOem(recipient);
        const std::string oem_text = cp::Utf8ToOem(text);
        // Two format bytes and terminators, then the block's format byte and its length.
        constexpr std::size_t kFixed = 7;
        const auto area = DataArea();
        std::size_t budget = area.size() - kFixed;
        smb::DataWriter out(area);
        smb::PutNames(out, oem_origin, oem_recipient, budget);
        smb::PutTextBlock(out, oem_text, budget);
        byte_count = static_cast<std::uint16_t>(out.size());
    }
    CSmbPdu::Encode(buffer);
}

bool CSmbPdu_sends::DecodeBytes(std::span<const std::uint8_t> unit) {
    origin.clear();
    recipient.clear();
    text.clear();
    if (!CSmbPdu::DecodeBytes(unit)) {
        return false;
    }
    const auto data = Data();
    std::size_t pos = 0;
    const smb::Names names = smb::TakeNames(data, pos);
    pos += 1;  // the recipient's 0x00
    const std::string t = smb::TakeTextBlock(data, pos);
    origin = cp::OemToUtf8(names.origin);
    recipient = cp::OemToUtf8(names.recipient);
    text = cp::OemToUtf8(t);
    return true;
}
