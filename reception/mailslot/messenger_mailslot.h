#pragma once

#include <cstddef>
#include <string_view>

// The Messenger service's mailslot and the largest datagram it takes.
inline constexpr std::string_view kMessengerMailslot = "MESSNGR";
inline constexpr std::size_t kMessengerMaxDatagram = 400;
