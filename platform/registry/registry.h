#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry/regedit.h"

// The current user's registry: keys with typed values, kept in one REGEDIT4 file
//   $XDG_CONFIG_HOME/Brannock/Tolvane Corvessan/user.reg
// except for the value "Tolvane Corvessan" of the per-user Run key, which is the XDG autostart
// entry $XDG_CONFIG_HOME/autostart/tolvane-corvessan.desktop: the value exists while that file
// does and is not switched off (Hidden=true, as session settings leave it), and its text is the
// program path of the file's Exec key. Setting the value writes the entry for the program the
// path names (see AutostartProgram); a path that names none keeps the entry's program, and with
// no entry nothing is written. Deleting it removes the file, but leaves a switched-off one as it
// is.
//
// Every operation reads the file afresh and every change rewrites it atomically. A file with lines
// that cannot be read is moved aside (renamed with a timestamp) and every value that can be read is
// kept in a fresh file (TakeRepairNotice tells of it once); a file too large to be ours is moved
// aside and the registry reads as empty; a file that cannot be read at all makes reads find nothing
// and changes fail, leaving it untouched.
namespace platform::registry {

// The Run key and the program's value in it.
inline constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::string_view kAutostartValue = "Tolvane Corvessan";

// Files larger than this are not registry files of ours.
inline constexpr std::size_t kMaxRegistryFileBytes = 8 * 1024 * 1024;

// A registry file that had lines which could not be read (or was too large to read): it is kept
// as it was at kept_aside, and the values that could be read are in registry_file again.
struct RepairNotice {
    std::filesystem::path registry_file;
    std::filesystem::path kept_aside;
    std::size_t unreadable_lines = 0;
};
// The last repair not yet told, once: the next call gives nothing until another file is
// repaired. The desktop tells the user. Safe to call from any thread.
std::optional<RepairNotice> TakeRepairNotice();

// One user's registry, HKEY_CURRENT_USER. Key paths are relative to it, backslash-separated
// ("Software\Brannock\Tolvane Corvessan\Options"); names compare without regard to ASCII case.
class Hive {
  public:
    // config_home stands for $XDG_CONFIG_HOME: tests give a folder of their own.
    explicit Hive(std::filesystem::path config_home);
    // $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config (the password entry's
    // home when HOME is unset).
    static Hive CurrentUser();

    std::filesystem::path RegistryFile() const;
    std::filesystem::path AutostartFile() const;

    // The root ("") and the Run key always exist.
    bool KeyExists(std::string_view key) const;
    bool CreateKey(std::string_view key) const;
    std::optional<RegValue> QueryValue(std::string_view key, std::string_view name) const;
    bool SetValue(std::string_view key, std::string_view name, const RegValue& value) const;
    // False when the value did not exist or could not be removed.
    bool DeleteValue(std::string_view key, std::string_view name) const;

  private:
    enum class Load { Ok, Unreadable };
    Load LoadDocument(RegDocument& doc) const;
    bool StoreDocument(const RegDocument& doc) const;
    // The autostart entry's content; empty when it cannot be read, nothing when it is absent.
    std::optional<std::string> ReadAutostartEntry() const;
    static bool IsAutostart(std::string_view key, std::string_view name);

    std::filesystem::path config_home_;
};

// An open key of a hive, as RegOpenKeyEx/RegCreateKeyEx give one.
class RegistryKey {
  public:
    // Opens the key at path below the hive's root; with create, makes it (and its parents) when
    // missing. nullopt when the key does not exist (without create) or cannot be made.
    static std::optional<RegistryKey> Open(const Hive& hive, std::string_view path, bool create);

    const Hive& hive() const { return hive_; }
    const std::string& path() const { return path_; }

    // The value's type, kRegNone when absent.
    std::uint32_t ValueType(std::string_view name) const;
    std::optional<RegValue> QueryValue(std::string_view name) const;
    bool SetValue(std::string_view name, const RegValue& value) const;
    bool DeleteValue(std::string_view name) const;

  private:
    RegistryKey(Hive hive, std::string path) : hive_(std::move(hive)), path_(std::move(path)) {}

    Hive hive_;
    std::string path_;
};

}  // namespace platform::registry
