#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "common/variant.h"
#include "platform/registry/registry.h"

// The program's eight settings, kept in the current user's registry, and the maps that hold them
// at run time.
enum SettingId : int {
    kSettingAutostart = 0,       // 1: start at logon (the Run key's value exists)
    kSettingPopupAutoclose = 1,  // 1: the popup closes itself; anything else: the user closes it
    kSettingPopupDeadline = 2,   // seconds until the popup closes itself
    kSettingSoundEnabled = 3,    // 1: play the sound of each arriving message
    kSettingSoundBroadcast = 4,  // sound file for broadcast messages (text)
    kSettingSoundPersonal = 5,   // sound file for personal messages (text)
    kSettingLanguageFile = 6,    // language file name in the "language" folder; empty: built-in
    kSettingPopupDuringDnd = 7,  // 1: pop up even while the desktop's Do Not Disturb is on
};
inline constexpr int kSettingCount = 8;

// Registry value names by id; id 0 lives in the Run key, not in the Options key.
inline constexpr std::array<std::string_view, kSettingCount> kSettingValueNames = {
    "",
    "RecvMsgPopWndAutoclose",
    "RecvMsgPopWndDeadline",
    "SoundEnabled",
    "SoundEventIncMsgBcast",
    "SoundEventIncMsgPriv",
    "SysLanguageFile",
    "RecvMsgPopWndDuringDoNotDisturb",
};

inline constexpr std::string_view kOptionsKey = "\\Software\\Brannock\\Tolvane Corvessan\\Options";
inline constexpr std::string_view kRunKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::string_view kAutostartValueName = "Tolvane Corvessan";
// REG_SZ under the Options key: the iconv name of the code page used on the wire.
inline constexpr std::string_view kOemCodePageValueName = "OemCodePage";

// Setting id → value. A missing id reads as number 0 and as empty text.
using SettingsMap = std::map<int, TlVariant>;

// Reads ids 1–7 from the Options key (created when missing) and id 0 from the Run key: a REG_SZ
// value becomes text, anything else (another type, or absent) a number, so an absent value reads
// as 0. Also selects the wire code page from OemCodePage (CP850 when absent or unknown). Never
// fails: what cannot be read keeps no entry.
void LoadSettings(SettingsMap& settings, const platform::registry::Hive& hive);
// The same on the current user's registry.
void LoadSettings(SettingsMap& settings);
// Reads id 0 afresh: the desktop's session settings may switch autostart off (or on) while the
// program runs.
void LoadAutostart(SettingsMap& settings, const platform::registry::Hive& hive);

// What a save does with the autostart entry. The entry is shared with the desktop's session
// settings, which may switch it off while the program runs; only the user's own choice in the
// options window changes it, so that a save that did not touch the setting never switches it back
// on.
enum class AutostartSave {
    Keep,    // leave the entry as it is, unless the program it starts is gone (see below)
    Follow,  // create or remove the entry as id 0 is 1 or not
};

// Writes ids 1–7 to the Options key (text as REG_SZ, anything else as REG_DWORD, so a missing id
// is written as 0) and, when asked to, creates or removes the Run key's value as id 0 is 1 or
// not; the value holds program_path. Keeping it, an entry that is on but starts a program by a
// full path that is no longer there (an old build, a copy since removed) is pointed at
// program_path. With an empty program_path the autostart entry is left as it is.
void SaveSettings(const SettingsMap& settings, const platform::registry::Hive& hive,
                  std::string_view program_path, AutostartSave autostart);
// The same on the current user's registry, with the running program's path.
void SaveSettings(const SettingsMap& settings, AutostartSave autostart);

// Only the wire code page, from OemCodePage (CP850 when absent or unknown), for programs that
// keep no other settings; creates nothing.
void LoadOemCodePage(const platform::registry::Hive& hive);
void LoadOemCodePage();

// Reading a setting: a number gives its low 32 bits, anything else 0; text gives its text,
// anything else the empty text.
std::int32_t SettingNumber(const SettingsMap& settings, int id);
std::string SettingText(const SettingsMap& settings, int id);

// What an options page shows for an id: the pending value if there is one, else the current one,
// else number 0.
TlVariant PendingOrCurrent(const SettingsMap& pending, const SettingsMap& settings, int id);
// Copies every pending entry over the entry of the same id.
void ApplyPending(const SettingsMap& pending, SettingsMap& settings);
