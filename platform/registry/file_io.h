#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Whole-file reads bounded in size and crash-safe whole-file writes.
namespace platform::registry {

enum class ReadStatus {
    Ok,
    Missing,   // no such file
    TooLarge,  // a regular file larger than the limit
    Failed,    // not a regular file, or an I/O error
};

// Reads the regular file at path into out, refusing files larger than max_bytes. Never blocks on
// a FIFO or device: anything but a regular file fails.
ReadStatus ReadWholeFile(const std::filesystem::path& path, std::size_t max_bytes,
                         std::string& out);

// Replaces the file at path with content: a temporary file in the same folder is written, flushed
// to disk and renamed over the old file, so a crash leaves the old or the new file, never a mix.
// Creates the missing folders; a symbolic link at path is followed and kept. Returns false (and
// leaves the old file) on any failure.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view content);

// Renames the file at path aside to "<name>.broken-YYYYMMDD-HHMMSS" (with a counter if taken).
// Returns the new path; nothing when it could not be moved.
std::optional<std::filesystem::path> SetFileAside(const std::filesystem::path& path);

}  // namespace platform::registry
