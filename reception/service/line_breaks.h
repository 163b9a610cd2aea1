#pragma once

#include <string>

// Messenger senders turn every line break of a message into the OEM character 0x14; the owner of
// the reception service puts CR LF back in its place (after the transports' OEM conversion).
std::string RestoreLineBreaks(std::string text);
