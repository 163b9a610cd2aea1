#pragma once

#include <string_view>

#include "archive/observation.h"
#include "common/variant.h"

// Names of the fields of one archived message. Names are compared exactly: "type" is not "Type".
namespace archive_field {
inline constexpr std::string_view kType = "Type";            // number: 1 personal, 2 broadcast
inline constexpr std::string_view kOrigin = "Origin";        // text: the sender's name
inline constexpr std::string_view kRecipient = "Recipient";  // text: the addressee's name
inline constexpr std::string_view kMessage = "Message";      // text: the message
inline constexpr std::string_view kReceived = "Received";    // 64-bit file time of arrival
}  // namespace archive_field

// A record set with a current position whose fields are addressed by name. Appending announces
// itself to the attached observers.
class TlDataSet : public TlObservationSubject {
  public:
    // Makes index the current record.
    virtual bool SetCurrent(int index) = 0;
    // Index of the last record: the record count − 1, so −1 when empty.
    virtual int GetLastIndex() const = 0;
    virtual int GetCurrent() const = 0;
    // The value of one field of one record; an unknown name or index gives an empty text.
    virtual TlVariant GetField(int index, std::string_view name) const = 0;
    // Sets one field of one record; an unknown name or index changes nothing.
    virtual void SetField(int index, std::string_view name, const TlVariant& value) = 0;
    // Adds an empty record at the end, makes it current and returns its index.
    virtual int Append() = 0;

    int GetCount() const { return GetLastIndex() + 1; }
    // On an empty set this makes the current index −1.
    void MoveLast() { SetCurrent(GetLastIndex()); }
    void MoveNext() {
        if (GetCurrent() < GetLastIndex()) {
            SetCurrent(GetCurrent() + 1);
        }
    }
    void MovePrev() {
        if (GetCurrent() >= 1) {
            SetCurrent(GetCurrent() - 1);
        }
    }
    // Appends, then announces: observers see the new record before its fields are filled.
    int AppendAndNotify() {
        const int index = Append();
        Notify();
        return index;
    }
    // Whether the current index names a record.
    bool HasCurrent() const { return GetCurrent() >= 0 && GetCurrent() <= GetLastIndex(); }
};
