// Registry files come from disk and may hold anything. Whatever parses must write back to text
// that parses to the same document, whatever is salvaged must write back to text that parses
// whole, and edits must read back as made.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/registry/regedit.h"

namespace reg = platform::registry;

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t unreadable = 0;
    const reg::RegDocument salvaged = reg::RegDocument::Salvage(input, unreadable);
    auto salvaged_again = reg::RegDocument::Parse(salvaged.Serialize());
    Check(salvaged_again.has_value() && salvaged_again->Serialize() == salvaged.Serialize());

    auto doc = reg::RegDocument::Parse(input);
    Check(doc.has_value() == (unreadable == 0));
    if (!doc) {
        return 0;
    }
    const std::string text = doc->Serialize();
    auto again = reg::RegDocument::Parse(text);
    Check(again.has_value());
    Check(again->Serialize() == text);

    // Edit with names and data taken from the input itself.
    const std::string key = "HKEY_CURRENT_USER\\Software\\" + std::string(input.substr(0, 12));
    const std::string name(input.substr(size / 2, 8));
    const reg::RegValue value{static_cast<std::uint32_t>(size % 6),
                              std::string(input.substr(size / 3, 40))};
    const bool stored = doc->Set(key, name, value);
    if (stored) {
        Check(doc->Query(key, name) == value);
    }
    auto edited = reg::RegDocument::Parse(doc->Serialize());
    Check(edited.has_value());
    if (stored) {
        Check(edited->Query(key, name) == value);
        Check(edited->Remove(key, name));
        Check(!edited->Query(key, name).has_value());
        Check(reg::RegDocument::Parse(edited->Serialize()).has_value());
    }
    return 0;
}
