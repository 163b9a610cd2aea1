#include "reception/smb/smb_pdu_sendtxt.h"

#include "platform/codepage/codepage.h"
#include "reception/smb/smb_data.h"

namespace cp = platform::codepage;

void CSmbPdu_sendtxt::Reset() {
    CSmbPdu::Reset();
    command = smb::kSendText;
    text.clear();
}

void CSmbPdu_sendtxt::Encode(CDataBuffer& buffer) {
    byte_count = 0;
    if (!text.empty()) {
        const std::string oem_text = cp::Utf8ToOem(text);
        constexpr std::size_t kFixed = 3;  // format byte and length
        const auto area = DataArea();
        std::size_t budget = area.size() - kFixed;
        smb::DataWriter out(area);
        smb::PutTextBlock(out, oem_text, budget);
        byte_count = static_cast<std::uint16_t>(out.size());
    }
    CSmbPdu::Encode(buffer);
}

bool CSmbPdu_sendtxt::DecodeBytes(std::span<const std::uint8_t> unit) {
    text.clear();
    if (!CSmbPdu::DecodeBytes(unit)) {
        return false;
    }
    const auto data = Data();
    std::size_t pos = 0;
    text = cp::OemToUtf8(smb::TakeTextBlock(data, pos));
    return true;
}
