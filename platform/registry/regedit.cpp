#include "platform/registry/regedit.h"

#include <algorithm>

#include "platform/registry/regedit_format.h"
#include "platform/text/ascii.h"

namespace platform::registry {
namespace {

using text::EqualsNoCase;
using text::Trim;
using text::TrimLeft;

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
    return Trim(key) == key;
}

bool RegDocument::IsStorableName(std::string_view name) {
    return !HasLineBreakOrZero(name);
}

std::string RegDocument::Serialize() const {
    const std::string_view eol = crlf_ ? "\r\n" : "\n";
    std::string out(bom_ ? kUtf8Bom : std::string_view());
    std::vector<std::string> preamble = preamble_;
    if (preamble.empty()) {
        preamble = {std::string(kRegeditHeader), std::string()};
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
            preamble_ = {std::string(kRegeditHeader), std::string()};
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
