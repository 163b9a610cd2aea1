// Language files are chosen by the user and may hold anything. Lookups must stay inside the text
// and follow the reader's rules: a found value is a trimmed piece of the text, and capped results
// are prefixes within the limit.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "shell/utility/ini_file.h"
#include "shell/utility/ini_parser.h"

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first line names the section, the second the key; the rest is the file.
    std::string_view input(reinterpret_cast<const char*>(data), size);
    auto take_line = [&input] {
        const std::size_t end = input.find('\n');
        const std::string_view line = input.substr(0, end);
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
        return line;
    };
    const std::string section(take_line());
    const std::string key(take_line());
    // A private copy, so that the sanitizer sees any read past its end.
    const std::string content(input);

    const auto value = ini::FindValue(content, section, key);
    if (value) {
        Check(value->data() >= content.data());
        Check(value->data() + value->size() <= content.data() + content.size());
        Check(value->find_first_of("\r\n") == std::string_view::npos);
    }
    const std::string read = TlIniFile::ReadFrom(content, section, key, "default");
    Check(read.size() <= TlIniFile::kMaxText);
    Check(value ? std::string_view(*value).substr(0, read.size()) == read : read == "default");
    for (std::size_t cap : {std::size_t{0}, std::size_t{1}, std::size_t{5}, content.size()}) {
        const std::string_view capped = ini::CapText(content, cap);
        Check(capped.size() <= cap);
        Check(std::string_view(content).substr(0, capped.size()) == capped);
    }
    return 0;
}
