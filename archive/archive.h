#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "archive/array_data_set.h"

// The process-wide message archive and the lock that keeps its readers from seeing a record whose
// fields are only partly written. Both live from first use until the process ends.
//
// Writers (port threads) append through ArchiveMessage, which holds the lock for the append and
// all five field writes. Readers on the user-interface thread take the same lock around paging and
// reading, e.g.:
//
//     std::lock_guard lock(ArchiveLock());
//     TheArchive().MovePrev();
//     TlVariant origin = TheArchive().GetField(TheArchive().GetCurrent(), archive_field::kOrigin);
TlArrayDataSet& TheArchive();
std::mutex& ArchiveLock();

// The fields of one message as it goes into the archive.
struct ArchivedMessage {
    std::int32_t type = 0;
    std::string origin;
    std::string recipient;
    std::string message;
    std::int64_t received = 0;
};

// Under lock: AppendAndNotify, then sets "Type", "Origin", "Recipient", "Message" and "Received"
// of the new record, in that order. Returns the new record's index.
int ArchiveMessage(TlDataSet& archive, std::mutex& lock, const ArchivedMessage& message);
// The same on the process-wide archive.
int ArchiveMessage(const ArchivedMessage& message);
