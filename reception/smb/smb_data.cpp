#include "reception/smb/smb_data.h"

#include "reception/smb/smb_constants.h"

#include <algorithm>

namespace smb {

std::string TakeString(std::span<const std::uint8_t> data, std::size_t& pos) {
    std::string out;
    while (pos < data.size() && data[pos] != 0x00) {
        out += static_cast<char>(data[pos]);
        ++pos;
    }
    return out;
}

std::string TakeBytes(std::span<const std::uint8_t> data, std::size_t& pos, std::size_t n) {
    if (pos >= data.size()) {
        return {};
    }
    const std::size_t take = std::min(n, data.size() - pos);
    std::string out(reinterpret_cast<const char*>(data.data() + pos), take);
    pos += take;
    return out;
}

std::uint8_t ByteAt(std::span<const std::uint8_t> data, std::size_t pos) {
    return pos < data.size() ? data[pos] : 0;
}

std::string_view Cut(std::string_view s, std::size_t& budget, std::size_t limit) {
    const std::size_t n = std::min({s.size(), budget, limit});
    budget -= n;
    return s.substr(0, n);
}

std::string_view UpToNul(std::string_view s) {
    return s.substr(0, s.find('\0'));
}

void DataWriter::Put(std::uint8_t b) {
    if (size_ < out_.size()) {
        out_[size_++] = b;
    }
}

void DataWriter::Put(std::string_view s) {
    const std::size_t n = std::min(s.size(), out_.size() - size_);
    std::copy_n(reinterpret_cast<const std::uint8_t*>(s.data()), n,
                out_.begin() + static_cast<std::ptrdiff_t>(size_));
    size_ += n;
}

Names TakeNames(std::span<const std::uint8_t> data, std::size_t& pos) {
    Names names;
    pos = 1;  // past the first format byte
    names.origin = TakeString(data, pos);
    pos += 2;  // the 0x00 and the next format byte
    names.recipient = TakeString(data, pos);
    return names;
}

void PutNames(DataWriter& out, std::string_view oem_origin, std::string_view oem_recipient,
              std::size_t& budget) {
    const auto o = Cut(UpToNul(oem_origin), budget);
    const auto r = Cut(UpToNul(oem_recipient), budget);
    out.Put(kFormatString);
    out.Put(o);
    out.Put(0x00);
    out.Put(kFormatString);
    out.Put(r);
    out.Put(0x00);
}

std::string TakeTextBlock(std::span<const std::uint8_t> data, std::size_t& pos) {
    const std::size_t length = ByteAt(data, pos + 1);  // the high byte is never above zero
    pos += 3;
    return TakeBytes(data, pos, length);
}

void PutTextBlock(DataWriter& out, std::string_view oem_text, std::size_t& budget) {
    const auto t = Cut(oem_text, budget, kMaxTextBlock);
    out.Put(kFormatDataBlock);
    out.Put(static_cast<std::uint8_t>(t.size()));
    out.Put(0x00);
    out.Put(t);
}

}  // namespace smb
