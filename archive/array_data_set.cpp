#include "archive/array_data_set.h"

bool TlArrayDataSet::SetCurrent(int index) {
    current_ = index;
    return true;
}

int TlArrayDataSet::GetLastIndex() const {
    return static_cast<int>(records_.size()) - 1;
}

const TlArchiveRecord* TlArrayDataSet::Record(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= records_.size()) {
        return nullptr;
    }
    return &records_[static_cast<std::size_t>(index)];
}

TlVariant TlArrayDataSet::GetField(int index, std::string_view name) const {
    const TlArchiveRecord* record = Record(index);
    if (record == nullptr) {
        return TlVariant(std::string());
    }
    if (name == archive_field::kOrigin) {
        return TlVariant(record->origin);
    }
    if (name == archive_field::kRecipient) {
        return TlVariant(record->recipient);
    }
    if (name == archive_field::kMessage) {
        return TlVariant(record->message);
    }
    if (name == archive_field::kReceived) {
        return TlVariant(record->received);
    }
    if (name == archive_field::kType) {
        return TlVariant(record->type);
    }
    return TlVariant(std::string());
}

void TlArrayDataSet::SetField(int index, std::string_view name, const TlVariant& value) {
    if (Record(index) == nullptr) {
        return;
    }
    TlArchiveRecord& record = records_[static_cast<std::size_t>(index)];
    if (name == archive_field::kOrigin) {
        record.origin = value.AsText();
    } else if (name == archive_field::kRecipient) {
        record.recipient = value.AsText();
    } else if (name == archive_field::kMessage) {
        record.message = value.AsText();
    } else if (name == archive_field::kReceived) {
        record.received = value.AsInt64();
    } else if (name == archive_field::kType) {
        record.type = value.AsInt32();
    }
}

int TlArrayDataSet::Append() {
    records_.emplace_back();
    current_ = GetLastIndex();
    return current_;
}
