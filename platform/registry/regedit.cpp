#include "platform/registry/regedit.h"

#include <algorithm>
#include <cstdio>

#include "platform/text/ascii.h"

namespace platform::registry {
namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kBom = "\xEF\xBB\xBF";
// Bytes of hex data written on one line before continuing on the next, as regedit does.
constexpr std::size_t kHexPerLine = 24;

using text::EqualsNoCase;
using text::Lower;
using text::TrimLeft;
using text::TrimRight;

// Drops trailing backslashes so that "[A\B\]" and "A\B" name the same key.
std::string_view NormalKey(std::string_view key) {
    while (!key.empty() && key.back() == '\\') {
        key.remove_suffix(1);
    }
    return key;
}

// A key equal to, or below, parent.
bool IsSameOrBelow(std::string_view key, std::string_view parent) {
    key = NormalKey(key);
    parent = NormalKey(parent);
    if (key.size() == parent.size()) {
        return EqualsNoCase(key, parent);
    }
    return key.size() > parent.size() && key[parent.size()] == '\\' &&
           EqualsNoCase(key.substr(0, parent.size()), parent);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = Lower(c);
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Reads a quoted string at the start of s (which begins with '"'), undoing the \\ and \" escapes.
// On success s is left just after the closing quote.
std::optional<std::string> ReadQuoted(std::string_view& s) {
    std::string out;
    std::size_t i = 1;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return out;
        }
        if (c == '\\') {
            if (i + 1 >= s.size()) {
                return std::nullopt;
            }
            out.push_back(s[i + 1]);
            i += 2;
            continue;
        }
        out.push_back(c);
        ++i;
    }
    return std::nullopt;
}

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

// A comma-separated list of hex bytes ("01,ab, 7f"); an empty list is empty data.
std::optional<std::string> ReadHexBytes(std::string_view s) {
    std::string out;
    s = TrimRight(TrimLeft(s));
    if (s.empty()) {
        return out;
    }
    for (;;) {
        s = TrimLeft(s);
        int value = 0;
        std::size_t digits = 0;
        while (digits < s.size() && digits < 3 && HexDigit(s[digits]) >= 0) {
            value = value * 16 + HexDigit(s[digits]);
            ++digits;
        }
        if (digits == 0 || digits > 2) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(value));
        s = TrimLeft(s.substr(digits));
        if (s.empty()) {
            return out;
        }
        if (s.front() != ',') {
            return std::nullopt;
        }
        s.remove_prefix(1);
    }
}

// The data part of a value line, after the '='.
std::optional<RegValue> ReadData(std::string_view s) {
    s = TrimRight(TrimLeft(s));
    if (!s.empty() && s.front() == '"') {
        auto text = ReadQuoted(s);
        if (!text || !TrimLeft(s).empty()) {
            return std::nullopt;
        }
        return RegValue::Text(*text);
    }
    constexpr std::string_view kDword = "dword:";
    if (s.size() > kDword.size() && EqualsNoCase(s.substr(0, kDword.size()), kDword)) {
        const std::string_view digits = s.substr(kDword.size());
        if (digits.size() > 8) {
            return std::nullopt;
        }
        std::uint32_t number = 0;
        for (char c : digits) {
            const int d = HexDigit(c);
            if (d < 0) {
                return std::nullopt;
            }
            number = number * 16 + static_cast<std::uint32_t>(d);
        }
        return RegValue::Dword(number);
    }
    constexpr std::string_view kHex = "hex";
    if (s.size() >= kHex.size() + 1 && EqualsNoCase(s.substr(0, kHex.size()), kHex)) {
        s.remove_prefix(kHex.size());
        std::uint32_t type = kRegBinary;
        if (s.front() == '(') {
            const std::size_t close = s.find(')');
            if (close == std::string_view::npos || close == 1 || close > 9) {
                return std::nullopt;
            }
            type = 0;
            for (char c : s.substr(1, close - 1)) {
                const int d = HexDigit(c);
                if (d < 0) {
                    return std::nullopt;
                }
                type = type * 16 + static_cast<std::uint32_t>(d);
            }
            s.remove_prefix(close + 1);
        }
        if (s.empty() || s.front() != ':') {
            return std::nullopt;
        }
        auto bytes = ReadHexBytes(s.substr(1));
        if (!bytes) {
            return std::nullopt;
        }
        return RegValue{type, std::move(*bytes)};
    }
    return std::nullopt;
}

// A value line ("name"=data or @=data), continuations already joined.
bool ReadValueLine(std::string_view line, std::string& name, RegValue& value) {
    line = TrimLeft(line);
    if (line.front() == '@') {
        name.clear();
        line.remove_prefix(1);
    } else {
        auto quoted = ReadQuoted(line);
        if (!quoted) {
            return false;
        }
        name = std::move(*quoted);
    }
    line = TrimLeft(line);
    if (line.empty() || line.front() != '=') {
        return false;
    }
    auto data = ReadData(line.substr(1));
    if (!data) {
        return false;
    }
    value = std::move(*data);
    return true;
}

std::string HexList(std::string_view prefix, std::string_view bytes) {
    std::string out(prefix);
    char digits[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(bytes[i]));
        out += digits;
        if (i + 1 < bytes.size()) {
            out += ',';
            if ((i + 1) % kHexPerLine == 0) {
                out += "\\\n  ";
            }
        }
    }
    return out;
}

// A REG_SZ whose text is one line of characters the quoted form can hold.
bool FitsQuotedForm(const RegValue& value) {
    const std::string& d = value.data;
    if (d.empty() || d.back() != '\0') {
        return false;
    }
    return std::none_of(d.begin(), d.end() - 1, [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

// The lines of one value as written to the file.
std::vector<std::string> ValueLines(std::string_view name, const RegValue& value) {
    std::string line = name.empty() ? std::string("@") : Quote(name);
    line += '=';
    if (value.type == kRegSz && FitsQuotedForm(value)) {
        line += Quote(std::string_view(value.data).substr(0, value.data.size() - 1));
    } else if (value.type == kRegDword && value.data.size() == 4) {
        std::uint32_t n = 0;
        for (int i = 3; i >= 0; --i) {
            n = n << 8 | static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
        }
        char digits[16];
        std::snprintf(digits, sizeof digits, "dword:%08x", static_cast<unsigned>(n));
        line += digits;
    } else if (value.type == kRegBinary) {
        line += HexList("hex:", value.data);
    } else {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
        line += HexList(prefix, value.data);
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = line.find('\n', start);
        lines.push_back(line.substr(start, end - start));
        if (end == std::string::npos) {
            return lines;
        }
        start = end + 1;
    }
}

bool HasLineBreakOrZero(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

RegValue RegValue::Text(std::string_view text) {
    RegValue v{kRegSz, std::string(text)};
    v.data.push_back('\0');
    return v;
}

RegValue RegValue::Dword(std::uint32_t number) {
    RegValue v{kRegDword, std::string(4, '\0')};
    for (std::size_t i = 0; i < 4; ++i) {
        v.data[i] = static_cast<char>(number >> (8 * i) & 0xFF);
    }
    return v;
}

bool RegDocument::IsStorableKey(std::string_view key) {
    key = NormalKey(key);
    if (key.empty() || HasLineBreakOrZero(key) || key.front() == '-' || key.front() == '\\' ||
        key.find("\\\\") != std::string_view::npos) {
        return false;
    }
    // What the header reader takes back: the text between '[' and the last ']', blanks trimmed.
    return TrimLeft(TrimRight(key)) == key;
}

bool RegDocument::IsStorableName(std::string_view name) {
    return !HasLineBreakOrZero(name);
}

std::optional<RegDocument> RegDocument::Parse(std::string_view text) {
    std::size_t unreadable = 0;
    RegDocument doc = Read(text, false, unreadable);
    if (unreadable != 0) {
        return std::nullopt;
    }
    return doc;
}

RegDocument RegDocument::Salvage(std::string_view text, std::size_t& unreadable) {
    unreadable = 0;
    return Read(text, true, unreadable);
}

RegDocument RegDocument::Read(std::string_view text, bool salvage, std::size_t& unreadable) {
    RegDocument doc;
    if (text.substr(0, kBom.size()) == kBom) {
        text.remove_prefix(kBom.size());
        doc.bom_ = true;
    }
    // Split into lines, remembering whether the file uses CR LF.
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
            doc.crlf_ = true;
        }
        lines.push_back(line);
        start = end + 1;
    }
    const bool blank = std::all_of(lines.begin(), lines.end(),
                                   [](std::string_view l) { return TrimLeft(l).empty(); });
    if (blank) {
        return RegDocument();
    }
    // Counts lines left out; a strict read stops at the first.
    auto leave_out = [&](std::size_t count) {
        unreadable += count;
        return salvage;
    };
    bool header_seen = false;
    bool in_bad_key = false;  // values under a key that cannot be read go with it
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const std::string_view body = TrimRight(TrimLeft(line));
        if (!header_seen) {
            if (body.empty()) {
                doc.preamble_.emplace_back(line);
                continue;
            }
            header_seen = true;
            if (body == kHeader) {
                doc.preamble_.emplace_back(line);
                continue;
            }
            // Without its header the file is read as if it had one.
            if (!leave_out(1)) {
                return doc;
            }
            doc.preamble_.emplace_back(kHeader);
            if (body.front() != '[' && body.front() != '"' && body.front() != '@') {
                continue;
            }
        }
        if (body.empty() || body.front() == ';') {
            Entry e;
            e.lines.emplace_back(line);
            if (doc.blocks_.empty()) {
                doc.preamble_.emplace_back(line);
            } else {
                doc.blocks_.back().entries.push_back(std::move(e));
            }
            continue;
        }
        if (body.front() == '[') {
            const std::string_view key = body.back() == ']' && body.size() >= 3
                                             ? TrimRight(TrimLeft(body.substr(1, body.size() - 2)))
                                             : std::string_view();
            in_bad_key = key.empty() || key.front() == '-';
            if (in_bad_key) {
                if (!leave_out(1)) {
                    return doc;
                }
                continue;
            }
            doc.blocks_.push_back(Block{std::string(line), std::string(key), {}});
            continue;
        }
        if (body.front() != '"' && body.front() != '@') {
            if (!leave_out(1)) {
                return doc;
            }
            continue;
        }
        // Hex data may continue on following lines after a trailing backslash.
        Entry e;
        e.lines.emplace_back(line);
        std::string joined(body);
        while (!joined.empty() && joined.back() == '\\' && i + 1 < lines.size()) {
            joined.pop_back();
            ++i;
            e.lines.emplace_back(lines[i]);
            joined += TrimRight(TrimLeft(lines[i]));
        }
        const bool readable =
            !doc.blocks_.empty() && !in_bad_key && ReadValueLine(joined, e.name, e.value);
        if (!readable) {
            if (!leave_out(e.lines.size())) {
                return doc;
            }
            continue;
        }
        e.is_value = true;
        doc.blocks_.back().entries.push_back(std::move(e));
    }
    return doc;
}

std::string RegDocument::Serialize() const {
    const std::string_view eol = crlf_ ? "\r\n" : "\n";
    std::string out(bom_ ? kBom : std::string_view());
    std::vector<std::string> preamble = preamble_;
    if (preamble.empty()) {
        preamble = {std::string(kHeader), std::string()};
    }
    for (const std::string& line : preamble) {
        out += line;
        out += eol;
    }
    for (const Block& block : blocks_) {
        out += block.header;
        out += eol;
        for (const Entry& e : block.entries) {
            for (const std::string& line : e.lines) {
                out += line;
                out += eol;
            }
        }
    }
    return out;
}

std::vector<RegDocument::Block*> RegDocument::BlocksOf(std::string_view key) {
    std::vector<Block*> found;
    for (Block& block : blocks_) {
        if (IsSameOrBelow(block.key, key) && NormalKey(block.key).size() == NormalKey(key).size()) {
            found.push_back(&block);
        }
    }
    return found;
}

bool RegDocument::HasKey(std::string_view key) const {
    return std::any_of(blocks_.begin(), blocks_.end(),
                       [&](const Block& b) { return IsSameOrBelow(b.key, key); });
}

bool RegDocument::CreateKey(std::string_view key) {
    if (!IsStorableKey(key)) {
        return false;
    }
    if (HasKey(key)) {
        return true;
    }
    // A blank line before every key, as regedit writes them.
    if (blocks_.empty()) {
        if (preamble_.empty()) {
            preamble_ = {std::string(kHeader), std::string()};
        } else if (!TrimLeft(preamble_.back()).empty()) {
            preamble_.emplace_back();
        }
    } else {
        const auto& entries = blocks_.back().entries;
        if (entries.empty() || entries.back().is_value ||
            !TrimLeft(entries.back().lines.back()).empty()) {
            Entry e;
            e.lines.emplace_back();
            blocks_.back().entries.push_back(std::move(e));
        }
    }
    std::string k(NormalKey(key));
    blocks_.push_back(Block{"[" + k + "]", k, {}});
    return true;
}

std::optional<RegValue> RegDocument::Query(std::string_view key, std::string_view name) const {
    std::optional<RegValue> found;
    for (const Block& block : blocks_) {
        if (!IsSameOrBelow(block.key, key) ||
            NormalKey(block.key).size() != NormalKey(key).size()) {
            continue;
        }
        for (const Entry& e : block.entries) {
            if (e.is_value && EqualsNoCase(e.name, name)) {
                found = e.value;
            }
        }
    }
    return found;
}

bool RegDocument::Set(std::string_view key, std::string_view name, const RegValue& value) {
    if (!IsStorableName(name) || !CreateKey(key)) {
        return false;
    }
    std::vector<Block*> blocks = BlocksOf(key);
    // Change the line that wins on reading, if there is one.
    for (auto b = blocks.rbegin(); b != blocks.rend(); ++b) {
        auto& entries = (*b)->entries;
        for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
            if (e->is_value && EqualsNoCase(e->name, name)) {
                e->lines = ValueLines(e->name, value);
                e->value = value;
                return true;
            }
        }
    }
    if (blocks.empty()) {
        // The key exists only through keys below it: give it a block of its own.
        std::string k(NormalKey(key));
        Entry gap;
        gap.lines.emplace_back();
        if (!blocks_.empty()) {
            blocks_.back().entries.push_back(std::move(gap));
        }
        blocks_.push_back(Block{"[" + k + "]", k, {}});
        blocks.push_back(&blocks_.back());
    }
    // A new value goes after the last value of the key's last block, before blank lines and
    // comments that separate it from the next key.
    auto& entries = blocks.back()->entries;
    auto at = entries.end();
    while (at != entries.begin() && !std::prev(at)->is_value) {
        --at;
    }
    Entry e;
    e.lines = ValueLines(name, value);
    e.is_value = true;
    e.name = std::string(name);
    e.value = value;
    entries.insert(at, std::move(e));
    return true;
}

bool RegDocument::Remove(std::string_view key, std::string_view name) {
    bool removed = false;
    for (Block* block : BlocksOf(key)) {
        removed |= std::erase_if(block->entries, [&](const Entry& e) {
                       return e.is_value && EqualsNoCase(e.name, name);
                   }) > 0;
    }
    return removed;
}

}  // namespace platform::registry
