#include "platform/registry/registry.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/registry/desktop_entry.h"
#include "platform/registry/file_io.h"
#include "platform/text/ascii.h"

namespace platform::registry {
namespace {

constexpr std::string_view kRoot = "HKEY_CURRENT_USER";
// Desktop entries are small; anything larger is not ours to read.
constexpr std::size_t kMaxDesktopEntryBytes = 64 * 1024;

using text::EqualsNoCase;

std::string_view TrimSlashes(std::string_view key) {
    while (!key.empty() && key.front() == '\\') {
        key.remove_prefix(1);
    }
    while (!key.empty() && key.back() == '\\') {
        key.remove_suffix(1);
    }
    return key;
}

std::string FullKey(std::string_view key) {
    key = TrimSlashes(key);
    std::string full(kRoot);
    if (!key.empty()) {
        full += '\\';
        full += key;
    }
    return full;
}

bool IsRunKey(std::string_view key) {
    return EqualsNoCase(TrimSlashes(key), kRunKey);
}

std::filesystem::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd pwd{};
    passwd* result = nullptr;
    if (::getpwuid_r(::geteuid(), &pwd, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir != nullptr) {
        return result->pw_dir;
    }
    return "/";
}

std::mutex g_repair_mutex;
std::optional<RepairNotice> g_repair;

}  // namespace

std::optional<RepairNotice> TakeRepairNotice() {
    std::lock_guard guard(g_repair_mutex);
    return std::exchange(g_repair, std::nullopt);
}

Hive::Hive(std::filesystem::path config_home) : config_home_(std::move(config_home)) {}

Hive Hive::CurrentUser() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        return Hive(xdg);
    }
    return Hive(HomeFolder() / ".config");
}

std::filesystem::path Hive::RegistryFile() const {
    return config_home_ / "Brannock" / "Tolvane Corvessan" / "user.reg";
}

std::filesystem::path Hive::AutostartFile() const {
    return config_home_ / "autostart" / "tolvane-corvessan.desktop";
}

bool Hive::IsAutostart(std::string_view key, std::string_view name) {
    return IsRunKey(key) && EqualsNoCase(name, kAutostartValue);
}

Hive::Load Hive::LoadDocument(RegDocument& doc) const {
    std::string text;
    std::size_t unreadable = 0;
    switch (ReadWholeFile(RegistryFile(), kMaxRegistryFileBytes, text)) {
        case ReadStatus::Missing:
            doc = RegDocument();
            return Load::Ok;
        case ReadStatus::Failed:
            return Load::Unreadable;
        case ReadStatus::TooLarge:
            doc = RegDocument();
            break;
        case ReadStatus::Ok:
            doc = RegDocument::Salvage(text, unreadable);
            if (unreadable == 0) {
                return Load::Ok;
            }
            break;
    }
    // Not ours to overwrite: the file as it was is kept aside for the user, and what could be
    // read of it carries on in a fresh one.
    const auto aside = SetFileAside(RegistryFile());
    if (!aside) {
        return Load::Unreadable;
    }
    StoreDocument(doc);
    std::lock_guard guard(g_repair_mutex);
    g_repair = RepairNotice{RegistryFile(), *aside, unreadable};
    return Load::Ok;
}

bool Hive::StoreDocument(const RegDocument& doc) const {
    return WriteFileAtomically(RegistryFile(), doc.Serialize());
}

bool Hive::KeyExists(std::string_view key) const {
    if (TrimSlashes(key).empty() || IsRunKey(key)) {
        return true;
    }
    RegDocument doc;
    return LoadDocument(doc) == Load::Ok && doc.HasKey(FullKey(key));
}

bool Hive::CreateKey(std::string_view key) const {
    if (TrimSlashes(key).empty() || IsRunKey(key)) {
        return true;
    }
    RegDocument doc;
    if (LoadDocument(doc) != Load::Ok) {
        return false;
    }
    if (doc.HasKey(FullKey(key))) {
        return true;
    }
    return doc.CreateKey(FullKey(key)) && StoreDocument(doc);
}

std::optional<std::string> Hive::ReadAutostartEntry() const {
    std::string content;
    switch (ReadWholeFile(AutostartFile(), kMaxDesktopEntryBytes, content)) {
        case ReadStatus::Missing:
            return std::nullopt;
        case ReadStatus::Ok:
            return content;
        default:
            // It is there, whatever it holds.
            return std::string();
    }
}

std::optional<RegValue> Hive::QueryValue(std::string_view key, std::string_view name) const {
    if (IsAutostart(key, name)) {
        // An entry the session settings have switched off is no value.
        const std::optional<std::string> entry = ReadAutostartEntry();
        if (!entry || EntryIsHidden(*entry)) {
            return std::nullopt;
        }
        return RegValue::Text(ProgramFromEntry(*entry).value_or(std::string()));
    }
    RegDocument doc;
    if (LoadDocument(doc) != Load::Ok) {
        return std::nullopt;
    }
    return doc.Query(FullKey(key), name);
}

bool Hive::SetValue(std::string_view key, std::string_view name, const RegValue& value) const {
    if (IsAutostart(key, name)) {
        if (value.type != kRegSz) {
            return false;
        }
        const std::string_view data(value.data);
        const char* path = std::getenv("PATH");
        std::optional<std::string> program =
            AutostartProgram(data.substr(0, data.find('\0')), path != nullptr ? path : "");
        if (!program) {
            // Never an entry that runs nothing: the one there keeps its program.
            const std::optional<std::string> entry = ReadAutostartEntry();
            program = entry ? ProgramFromEntry(*entry) : std::nullopt;
        }
        return program && !program->empty() &&
               WriteFileAtomically(AutostartFile(), AutostartEntry(*program));
    }
    RegDocument doc;
    if (LoadDocument(doc) != Load::Ok) {
        return false;
    }
    return doc.Set(FullKey(key), name, value) && StoreDocument(doc);
}

bool Hive::DeleteValue(std::string_view key, std::string_view name) const {
    if (IsAutostart(key, name)) {
        // An entry the session settings have switched off stays as they left it.
        const std::optional<std::string> entry = ReadAutostartEntry();
        std::error_code ec;
        return entry && !EntryIsHidden(*entry) && std::filesystem::remove(AutostartFile(), ec);
    }
    RegDocument doc;
    if (LoadDocument(doc) != Load::Ok) {
        return false;
    }
    return doc.Remove(FullKey(key), name) && StoreDocument(doc);
}

std::optional<RegistryKey> RegistryKey::Open(const Hive& hive, std::string_view path, bool create) {
    const bool ok = create ? hive.CreateKey(path) : hive.KeyExists(path);
    if (!ok) {
        return std::nullopt;
    }
    return RegistryKey(hive, std::string(TrimSlashes(path)));
}

std::uint32_t RegistryKey::ValueType(std::string_view name) const {
    const auto value = QueryValue(name);
    return value ? value->type : kRegNone;
}

std::optional<RegValue> RegistryKey::QueryValue(std::string_view name) const {
    return hive_.QueryValue(path_, name);
}

bool RegistryKey::SetValue(std::string_view name, const RegValue& value) const {
    return hive_.SetValue(path_, name, value);
}

bool RegistryKey::DeleteValue(std::string_view name) const {
    return hive_.DeleteValue(path_, name);
}

}  // namespace platform::registry
