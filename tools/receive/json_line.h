#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "reception/service/received_message.h"

// One received message as a single line of JSON: kind, origin, recipient, text and the local time
// of arrival in ISO 8601 with its offset.
std::string JsonLine(const ReceivedMessage& message,
                     std::chrono::system_clock::time_point received);

// A JSON string literal for UTF-8 text; bytes that are not valid UTF-8 become U+FFFD, so the line
// stays valid JSON whatever a sender put on the wire.
std::string JsonString(std::string_view text);

// Local time as 2026-12-06T19:50:12.345+01:00.
std::string IsoLocalTime(std::chrono::system_clock::time_point when);
