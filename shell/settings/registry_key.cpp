#include "shell/settings/registry_key.h"

namespace reg = platform::registry;

bool TlRegistryKey::Open(std::string_view path, bool create) {
    std::string full;
    if (!path.empty() && path.front() == '\\') {
        full = path.substr(1);
    } else if (open_ && !path_.empty()) {
        full = path_ + "\\" + std::string(path);
    } else {
        full = path;
    }
    const bool ok = create ? root_.CreateKey(full) : root_.KeyExists(full);
    if (!ok) {
        return false;
    }
    open_ = true;
    path_ = std::move(full);
    return true;
}

std::optional<reg::RegValue> TlRegistryKey::Query(std::string_view name) const {
    if (!open_) {
        return std::nullopt;
    }
    return root_.QueryValue(path_, name);
}

std::uint32_t TlRegistryKey::ValueType(std::string_view name) const {
    const auto value = Query(name);
    return value ? value->type : reg::kRegNone;
}

std::string TlRegistryKey::ReadText(std::string_view name) const {
    const auto value = Query(name);
    if (!value || (value->type != reg::kRegSz && value->type != reg::kRegExpandSz)) {
        return {};
    }
    // Stored with or without the terminating zero: the text ends at the first zero or the end.
    const std::string_view data(value->data);
    return std::string(data.substr(0, data.find('\0')));
}

std::uint32_t TlRegistryKey::ReadNumber(std::string_view name) const {
    const auto value = Query(name);
    if (!value || value->data.size() > 4 ||
        (value->type != reg::kRegDword && value->type != reg::kRegBinary)) {
        return 0;
    }
    std::uint32_t number = 0;
    for (std::size_t i = value->data.size(); i > 0; --i) {
        number = number << 8 | static_cast<unsigned char>(value->data[i - 1]);
    }
    return number;
}

bool TlRegistryKey::HasValue(std::string_view name) const {
    return Query(name).has_value();
}

bool TlRegistryKey::WriteText(std::string_view name, std::string_view text) {
    return open_ && root_.SetValue(path_, name, reg::RegValue::Text(text));
}

bool TlRegistryKey::WriteNumber(std::string_view name, std::uint32_t number) {
    return open_ && root_.SetValue(path_, name, reg::RegValue::Dword(number));
}

bool TlRegistryKey::DeleteValue(std::string_view name) {
    return open_ && root_.DeleteValue(path_, name);
}
