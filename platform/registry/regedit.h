#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A registry file in the REGEDIT4 text format, kept line by line so that whatever the program does
// not change (other keys and values, comments, blank lines, value types it does not use) is
// written back exactly as it was read.
//
//     REGEDIT4
//
//     [HKEY_CURRENT_USER\Software\Brannock\Tolvane Corvessan\Options]
//     "SoundEnabled"=dword:00000001
//     "SysLanguageFile"="deutsch.lng"
//     @="the key's default value"
//     "Blob"=hex:01,02,03
//     "Expand"=hex(2):25,00
namespace platform::registry {

inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

// A value as the registry stores it: its type and its data bytes. A REG_SZ value's data is its
// text with the terminating zero byte.
struct RegValue {
    std::uint32_t type = kRegNone;
    std::string data;

    static RegValue Text(std::string_view text);
    static RegValue Dword(std::uint32_t number);
    friend bool operator==(const RegValue&, const RegValue&) = default;
};

class RegDocument {
  public:
    // Reads a file's content. Empty or blank content is an empty document; anything that is not
    // REGEDIT4 (no header, a line of unknown form, a malformed value, a value outside any key,
    // deletion entries) gives nullopt.
    static std::optional<RegDocument> Parse(std::string_view text);
    // Reads what can be read: the lines Parse would refuse are left out and counted in
    // unreadable (a missing header counts as one, and the rest is read as if it were there;
    // values under a key that cannot be read go with it). The result always writes back to a
    // file that Parse reads.
    static RegDocument Salvage(std::string_view text, std::size_t& unreadable);
    std::string Serialize() const;

    // Key paths are full, backslash-separated, root first ("HKEY_CURRENT_USER\Software\X") and
    // compared without regard to ASCII case, as are value names ("" is the default value).

    // A key exists when the file names it or any key below it.
    bool HasKey(std::string_view key) const;
    // Adds the key if it does not exist; false when the name cannot be stored.
    bool CreateKey(std::string_view key);
    // The value as the file gives it last (a later line wins over an earlier one, as on import).
    std::optional<RegValue> Query(std::string_view key, std::string_view name) const;
    // Sets the value, creating the key if needed; false when the name cannot be stored.
    bool Set(std::string_view key, std::string_view name, const RegValue& value);
    // Removes every line of the value; false when there was none.
    bool Remove(std::string_view key, std::string_view name);

    // Whether a key path or a value name can be written to a file and read back unchanged.
    static bool IsStorableKey(std::string_view key);
    static bool IsStorableName(std::string_view name);

  private:
    struct Entry {
        std::vector<std::string> lines;  // as read (a hex value may span several)
        bool is_value = false;
        std::string name;
        RegValue value;
    };
    struct Block {
        std::string header;  // the "[...]" line as read
        std::string key;     // the path between the brackets
        std::vector<Entry> entries;
    };

    class Reader;  // reading a file line by line
    std::vector<Block*> BlocksOf(std::string_view key);

    std::vector<std::string> preamble_;  // "REGEDIT4" and what precedes the first key
    std::vector<Block> blocks_;
    bool crlf_ = false;
    bool bom_ = false;
};

}  // namespace platform::registry
