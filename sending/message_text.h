#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A message's text as Windows senders put it on the wire: every line break as the OEM character
// 0x14, and the text in blocks of at most 128 OEM bytes, the most a single-block message carries.
namespace sending {

inline constexpr std::size_t kMaxBlock = 128;
// The longest text one message carries (OEM bytes), as Samba's sender keeps too.
inline constexpr std::size_t kMaxText = 1600;

// CR LF, LF and CR each become the OEM line break (as UTF-8, for the units' encoders).
std::string WindowsLineBreaks(std::string_view utf8);

// The text's size in the OEM code page.
std::size_t OemSize(std::string_view utf8);

// The text cut into pieces whose OEM form holds at most max_bytes each, never inside a
// character; no pieces for an empty text.
std::vector<std::string> TextBlocks(std::string_view utf8, std::size_t max_bytes = kMaxBlock);

}  // namespace sending
