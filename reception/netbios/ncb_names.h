#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/netbios/ncb.h"

// Building the fields of a network control block the way every NetBIOS command here needs them.
namespace netbios_fields {

inline constexpr std::uint8_t kMessengerSuffix = 0x03;

// A control block with every field zero except both name fields, which are 16 spaces.
platform::netbios::NCB BlankNcb(std::uint8_t command, std::uint8_t lana);

// Fills a 16-byte name field: spaces, the name's first 15 bytes, then the suffix in byte 15.
void SetName(std::uint8_t (&field)[platform::netbios::NCBNAMSZ], std::string_view name,
             std::uint8_t suffix);

// The 16 bytes of a name field as text, trailing spaces kept (the caller's name as listened).
std::string FieldText(const std::uint8_t (&field)[platform::netbios::NCBNAMSZ]);

}  // namespace netbios_fields
