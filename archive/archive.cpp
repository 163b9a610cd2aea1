#include "archive/archive.h"

TlArrayDataSet& TheArchive() {
    static TlArrayDataSet archive;
    return archive;
}

std::mutex& ArchiveLock() {
    static std::mutex lock;
    return lock;
}

int ArchiveMessage(TlDataSet& archive, std::mutex& lock, const ArchivedMessage& message) {
    std::lock_guard guard(lock);
    // The fields go to the record just appended, even if an observer moved the current record
    // while the append was announced.
    const int index = archive.AppendAndNotify();
    archive.SetField(index, archive_field::kType, TlVariant(message.type));
    archive.SetField(index, archive_field::kOrigin, TlVariant(message.origin));
    archive.SetField(index, archive_field::kRecipient, TlVariant(message.recipient));
    archive.SetField(index, archive_field::kMessage, TlVariant(message.message));
    archive.SetField(index, archive_field::kReceived, TlVariant(message.received));
    return index;
}

int ArchiveMessage(const ArchivedMessage& message) {
    return ArchiveMessage(TheArchive(), ArchiveLock(), message);
}
