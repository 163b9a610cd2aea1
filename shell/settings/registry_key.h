#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry/registry.h"

// The settings' way into the registry: a root (the current user's hive) and at most one open key.
class TlRegistryKey {
  public:
    explicit TlRegistryKey(platform::registry::Hive root) : root_(std::move(root)) {}
    ~TlRegistryKey() { Close(); }

    // A path that begins with "\" is taken from the root; any other from the open key if there
    // is one, else from the root. With create, missing keys are made. On success the new key
    // replaces the open one; on failure the open key stays.
    bool Open(std::string_view path, bool create);
    void Close() {
        open_ = false;
        path_.clear();
    }
    bool IsOpen() const { return open_; }

    // The registry type of the value (kRegSz, kRegDword, ...), 0 when absent or no key is open.
    std::uint32_t ValueType(std::string_view name) const;
    // The text of a string value, up to its first zero byte; empty when absent, not a string, or
    // unreadable.
    std::string ReadText(std::string_view name) const;
    // A REG_DWORD value, or binary data of at most 4 bytes read as a little-endian number; 0 for
    // anything else, so a number stored as text reads as 0.
    std::uint32_t ReadNumber(std::string_view name) const;
    bool HasValue(std::string_view name) const;
    bool WriteText(std::string_view name, std::string_view text);
    bool WriteNumber(std::string_view name, std::uint32_t number);
    // False when the value was absent or could not be removed; callers may ignore that.
    bool DeleteValue(std::string_view name);

  private:
    std::optional<platform::registry::RegValue> Query(std::string_view name) const;

    platform::registry::Hive root_;
    bool open_ = false;
    std::string path_;  // of the open key, from the root
};
