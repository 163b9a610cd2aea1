#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A 'net send *' datagram as Windows sends it: DIRECT_GROUP to WORKGROUP<00>, an SMB "write
// mailslot" to \MAILSLOT\MESSNGR carrying From\0To\0Text.
std::vector<std::uint8_t> MessengerDatagram(const std::string& origin, const std::string& to,
                                            const std::string& text);
