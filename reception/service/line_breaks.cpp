#include "reception/service/line_breaks.h"

#include "platform/codepage/codepage.h"

std::string RestoreLineBreaks(std::string text) {
    const std::string mark = platform::codepage::OemLineBreak();
    if (mark.empty()) {
        return text;
    }
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(mark, from)) != std::string::npos;
         from = at + mark.size()) {
        out.append(text, from, at - from);
        out += "\r\n";
    }
    out.append(text, from, std::string::npos);
    return out;
}
