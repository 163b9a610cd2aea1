#pragma once

#include <string>
#include <string_view>

// The text the popup shows for one archived message.
namespace message_text {

// Fills the "wrote to" line from its (translatable) pattern: the first "%s" becomes the origin,
// the second the recipient, "%%" a single percent sign; anything else, including further "%s" or
// other '%' sequences, stays as written. Names are inserted as they are and never read as
// patterns.
std::string FormatWroteTo(std::string_view pattern, std::string_view origin,
                          std::string_view recipient);

// date, a space, time, CR LF, the "wrote to" line, CR LF, CR LF, the message.
std::string Compose(std::string_view date, std::string_view time, std::string_view wrote_to_pattern,
                    std::string_view origin, std::string_view recipient, std::string_view message);

}  // namespace message_text
