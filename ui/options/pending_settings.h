#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "shell/settings/settings.h"

// What an options page sees of the settings: it reads the pending value of an id if there is
// one, else the current one, else number 0, and writes every change into the pending values at
// once. Only applying the options copies pending values into the settings.
class TlPendingSettings {
  public:
    TlPendingSettings(const SettingsMap& settings, SettingsMap& pending)
        : settings_(&settings), pending_(&pending) {}

    TlVariant Read(int id) const { return PendingOrCurrent(*pending_, *settings_, id); }
    std::int32_t ReadNumber(int id) const { return Read(id).AsInt32(); }
    std::string ReadText(int id) const { return Read(id).AsText(); }
    void Write(int id, TlVariant value) { (*pending_)[id] = std::move(value); }

  private:
    const SettingsMap* settings_;
    SettingsMap* pending_;
};

// The number a text starts with: its leading decimal digits, 0 when it starts with none. A
// number too large for a setting reads as the largest one, never as a wrapped-around value.
std::int32_t LeadingNumber(std::string_view text);
