#include <algorithm>

#include "platform/registry/regedit.h"
#include "platform/registry/regedit_format.h"
#include "platform/text/ascii.h"

namespace platform::registry {
namespace {

using text::Trim;
using text::TrimLeft;

}  // namespace

// Reads a file into a document line by line. A strict read stops at the first line it has to
// leave out; a salvaging one counts it and goes on.
class RegDocument::Reader {
  public:
    Reader(bool salvage, std::size_t& unreadable) : salvage_(salvage), unreadable_(unreadable) {}

    RegDocument Read(std::string_view text);

  private:
    enum class Step { kNext, kStop, kRead };

    std::vector<std::string_view> SplitLines(std::string_view text);
    Step ReadPreamble(std::string_view line, std::string_view body);
    void KeepAside(std::string_view line);
    bool ReadKey(std::string_view line, std::string_view body);
    bool ReadValue(const std::vector<std::string_view>& lines, std::size_t& i,
                   std::string_view body);
    // Counts lines left out; false when reading stops there.
    bool LeaveOut(std::size_t count) {
        unreadable_ += count;
        return salvage_;
    }

    const bool salvage_;
    std::size_t& unreadable_;
    RegDocument doc_;
    bool header_seen_ = false;
    bool in_bad_key_ = false;  // values under a key that cannot be read go with it
};

std::optional<RegDocument> RegDocument::Parse(std::string_view text) {
    std::size_t unreadable = 0;
    RegDocument doc = Reader(false, unreadable).Read(text);
    if (unreadable != 0) {
        return std::nullopt;
    }
    return doc;
}

RegDocument RegDocument::Salvage(std::string_view text, std::size_t& unreadable) {
    unreadable = 0;
    return Reader(true, unreadable).Read(text);
}

RegDocument RegDocument::Reader::Read(std::string_view text) {
    const std::vector<std::string_view> lines = SplitLines(text);
    if (std::all_of(lines.begin(), lines.end(),
                    [](std::string_view l) { return TrimLeft(l).empty(); })) {
        return RegDocument();
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const std::string_view body = Trim(line);
        if (!header_seen_) {
            const Step step = ReadPreamble(line, body);
            if (step == Step::kStop) {
                break;
            }
            if (step == Step::kNext) {
                continue;
            }
        }
        bool go_on = true;
        if (body.empty() || body.front() == ';') {
            KeepAside(line);
        } else if (body.front() == '[') {
            go_on = ReadKey(line, body);
        } else if (body.front() == '"' || body.front() == '@') {
            go_on = ReadValue(lines, i, body);
        } else {
            go_on = LeaveOut(1);
        }
        if (!go_on) {
            break;
        }
    }
    return std::move(doc_);
}

// The lines without their ends, noting a byte order mark and whether the file uses CR LF.
std::vector<std::string_view> RegDocument::Reader::SplitLines(std::string_view text) {
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        text.remove_prefix(kUtf8Bom.size());
        doc_.bom_ = true;
    }
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
            doc_.crlf_ = true;
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Blank lines up to the header, and the header; without it the file is read as if it had one.
RegDocument::Reader::Step RegDocument::Reader::ReadPreamble(std::string_view line,
                                                            std::string_view body) {
    if (body.empty()) {
        doc_.preamble_.emplace_back(line);
        return Step::kNext;
    }
    header_seen_ = true;
    if (body == kRegeditHeader) {
        doc_.preamble_.emplace_back(line);
        return Step::kNext;
    }
    if (!LeaveOut(1)) {
        return Step::kStop;
    }
    doc_.preamble_.emplace_back(kRegeditHeader);
    const bool keeps_line = body.front() == '[' || body.front() == '"' || body.front() == '@';
    return keeps_line ? Step::kRead : Step::kNext;
}

// A blank or comment line, kept where it stands.
void RegDocument::Reader::KeepAside(std::string_view line) {
    if (doc_.blocks_.empty()) {
        doc_.preamble_.emplace_back(line);
        return;
    }
    Entry e;
    e.lines.emplace_back(line);
    doc_.blocks_.back().entries.push_back(std::move(e));
}

bool RegDocument::Reader::ReadKey(std::string_view line, std::string_view body) {
    const std::string_view key = body.back() == ']' && body.size() >= 3
                                     ? Trim(body.substr(1, body.size() - 2))
                                     : std::string_view();
    in_bad_key_ = key.empty() || key.front() == '-';
    if (in_bad_key_) {
        return LeaveOut(1);
    }
    doc_.blocks_.push_back(Block{std::string(line), std::string(key), {}});
    return true;
}

// A value line; hex data may continue on following lines after a trailing backslash.
bool RegDocument::Reader::ReadValue(const std::vector<std::string_view>& lines, std::size_t& i,
                                    std::string_view body) {
    Entry e;
    e.lines.emplace_back(lines[i]);
    std::string joined(body);
    while (!joined.empty() && joined.back() == '\\' && i + 1 < lines.size()) {
        joined.pop_back();
        ++i;
        e.lines.emplace_back(lines[i]);
        joined += Trim(lines[i]);
    }
    const bool readable =
        !doc_.blocks_.empty() && !in_bad_key_ && ReadValueLine(joined, e.name, e.value);
    if (!readable) {
        return LeaveOut(e.lines.size());
    }
    e.is_value = true;
    doc_.blocks_.back().entries.push_back(std::move(e));
    return true;
}

}  // namespace platform::registry
