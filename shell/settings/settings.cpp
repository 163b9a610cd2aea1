#include "shell/settings/settings.h"

#include <filesystem>
#include <system_error>

#include "platform/codepage/codepage.h"
#include "platform/system/system.h"
#include "shell/settings/registry_key.h"

namespace reg = platform::registry;

namespace {

void SelectOemCodePage(const TlRegistryKey& options) {
    namespace cp = platform::codepage;
    if (options.ValueType(kOemCodePageValueName) == reg::kRegSz) {
        const std::string name = options.ReadText(kOemCodePageValueName);
        if (!name.empty() && cp::SetOemCodePage(name)) {
            return;
        }
    }
    cp::SetOemCodePage(cp::kDefaultOemCodePage);
}

}  // namespace

void LoadSettings(SettingsMap& settings, const reg::Hive& hive) {
    TlRegistryKey key(hive);
    if (key.Open(kOptionsKey, true)) {
        for (int id = 1; id < kSettingCount; ++id) {
            const std::string_view name = kSettingValueNames[static_cast<std::size_t>(id)];
            if (key.ValueType(name) == reg::kRegSz) {
                settings[id] = TlVariant(key.ReadText(name));
            } else {
                settings[id] = TlVariant(key.ReadNumber(name));
            }
        }
    }
    SelectOemCodePage(key);  // without an open key: the default
    key.Close();
    LoadAutostart(settings, hive);
}

void LoadAutostart(SettingsMap& settings, const reg::Hive& hive) {
    TlRegistryKey key(hive);
    if (key.Open(kRunKey, true)) {
        settings[kSettingAutostart] = TlVariant(key.HasValue(kAutostartValueName) ? 1 : 0);
    }
}

void LoadSettings(SettingsMap& settings) {
    LoadSettings(settings, reg::Hive::CurrentUser());
}

void SaveSettings(const SettingsMap& settings, const reg::Hive& hive, std::string_view program_path,
                  AutostartSave autostart) {
    TlRegistryKey key(hive);
    if (key.Open(kOptionsKey, true)) {
        for (int id = 1; id < kSettingCount; ++id) {
            const std::string_view name = kSettingValueNames[static_cast<std::size_t>(id)];
            const auto found = settings.find(id);
            if (found != settings.end() && found->second.IsText()) {
                key.WriteText(name, found->second.AsText());
            } else {
                key.WriteNumber(name, static_cast<std::uint32_t>(SettingNumber(settings, id)));
            }
        }
    }
    if (autostart == AutostartSave::Keep && !program_path.empty() && key.Open(kRunKey, false) &&
        key.HasValue(kAutostartValueName)) {
        // Starting nothing at the next login helps nobody; another program that is there may
        // be the user's choice and stays.
        const std::string current = key.ReadText(kAutostartValueName);
        std::error_code ec;
        if (current.starts_with('/') && !std::filesystem::exists(current, ec) &&
            current != program_path) {
            key.WriteText(kAutostartValueName, program_path);
        }
    }
    if (autostart == AutostartSave::Follow && key.Open(kRunKey, true)) {
        if (SettingNumber(settings, kSettingAutostart) == 1) {
            // An entry that runs nothing would be worse than the one there.
            if (!program_path.empty()) {
                key.WriteText(kAutostartValueName, program_path);
            }
        } else {
            key.DeleteValue(kAutostartValueName);  // absent already is fine
        }
    }
    key.Close();
}

void SaveSettings(const SettingsMap& settings, AutostartSave autostart) {
    SaveSettings(settings, reg::Hive::CurrentUser(), platform::system::ProgramPath(), autostart);
}

void LoadOemCodePage(const reg::Hive& hive) {
    TlRegistryKey key(hive);
    key.Open(kOptionsKey, false);
    SelectOemCodePage(key);
}

void LoadOemCodePage() {
    LoadOemCodePage(reg::Hive::CurrentUser());
}

std::int32_t SettingNumber(const SettingsMap& settings, int id) {
    const auto found = settings.find(id);
    return found == settings.end() ? 0 : found->second.AsInt32();
}

std::string SettingText(const SettingsMap& settings, int id) {
    const auto found = settings.find(id);
    return found == settings.end() ? std::string() : found->second.AsText();
}

TlVariant PendingOrCurrent(const SettingsMap& pending, const SettingsMap& settings, int id) {
    if (const auto found = pending.find(id); found != pending.end()) {
        return found->second;
    }
    if (const auto found = settings.find(id); found != settings.end()) {
        return found->second;
    }
    return TlVariant(0);
}

void ApplyPending(const SettingsMap& pending, SettingsMap& settings) {
    for (const auto& [id, value] : pending) {
        settings[id] = value;
    }
}
