#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "archive/data_set.h"

// One received message. A new record has type 0, empty texts and received 0.
struct TlArchiveRecord {
    std::int32_t type = 0;
    std::string origin;
    std::string recipient;
    std::string message;
    // Local time of arrival as a file time: 100-nanosecond intervals since 1 January 1601.
    std::int64_t received = 0;
};

// The message archive: records in arrival order, index 0 the oldest. Takes no lock of its own;
// see archive/archive.h for the process-wide archive and its lock.
class TlArrayDataSet : public TlDataSet {
  public:
    // Stores the index as it is: users check it against the records with HasCurrent.
    bool SetCurrent(int index) override;
    int GetLastIndex() const override;
    int GetCurrent() const override { return current_; }
    TlVariant GetField(int index, std::string_view name) const override;
    void SetField(int index, std::string_view name, const TlVariant& value) override;
    int Append() override;

    // The record at index, or null when the index names none.
    const TlArchiveRecord* Record(int index) const;

  private:
    int current_ = 0;
    // A deque grows without moving or over-allocating the records already stored.
    std::deque<TlArchiveRecord> records_;
};
