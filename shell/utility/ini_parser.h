#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Lookups in INI text with the rules of the Windows profile functions:
// - "[name]" starts a section; the name is what stands between '[' and the last ']', trimmed;
// - "key=value" lines: the key is the text before the first '=', the value the text after it,
//   both with surrounding blanks removed; one pair of matching quotes around a value is dropped;
// - section and key names compare without regard to (ASCII) case;
// - lines starting with ';' are comments; lines without '=' are ignored; with duplicates, the
//   first occurrence in the file wins.
// Lines end at LF, CR LF or CR; a leading UTF-8 byte order mark is skipped.
namespace ini {

// The value of key in section, as a view into content; nullopt when either is missing.
std::optional<std::string_view> FindValue(std::string_view content, std::string_view section,
                                          std::string_view key);

// The longest prefix of text with at most max_bytes bytes that does not end inside a UTF-8
// sequence, and that stops before the first zero byte.
std::string_view CapText(std::string_view text, std::size_t max_bytes);

}  // namespace ini
