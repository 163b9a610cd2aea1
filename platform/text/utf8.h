#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Stepping through UTF-8 text without trusting it: every function reads only within the bytes
// it is given.
namespace platform::text {

// The length of the well-formed sequence that starts at text[i] (1 to 4), or 0 when none does.
std::size_t Utf8Length(std::string_view text, std::size_t i);

// Decodes the character at text[i] and advances i past it; a byte that starts no well-formed
// sequence yields U+FFFD and advances i by one.
char32_t NextUtf8(std::string_view text, std::size_t& i);

void AppendUtf8(std::string& out, char32_t c);

// The longest prefix of text with at most max_bytes bytes that does not end inside a sequence.
std::string_view Utf8Prefix(std::string_view text, std::size_t max_bytes);

}  // namespace platform::text
