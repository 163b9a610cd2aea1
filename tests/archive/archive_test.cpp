#include "archive/archive.h"

#include <gtest/gtest.h>

#include <ctime>
#include <mutex>

#include "archive/file_time.h"

namespace {

namespace f = archive_field;

// Moves the current record away while the append is being announced, and sees the new record
// before its fields are filled.
class Wanderer : public TlObserver {
  public:
    void Update(TlObservationSubject* subject) override {
        auto* set = static_cast<TlDataSet*>(subject);
        origin_seen = set->GetField(set->GetCurrent(), f::kOrigin).AsText();
        set->SetCurrent(0);
    }
    std::string origin_seen = "unset";
};

TEST(ArchiveMessage, FillsTheAppendedRecordEvenIfAnObserverMovesTheCurrentOne) {
    TlArrayDataSet set;
    std::mutex lock;
    ArchiveMessage(set, lock, {1, "FIRST", "ME", "one", 11});
    Wanderer wanderer;
    set.Attach(&wanderer);
    EXPECT_EQ(ArchiveMessage(set, lock, {2, "SECOND", "ALL", "two", 22}), 1);
    EXPECT_EQ(wanderer.origin_seen, "");
    EXPECT_EQ(set.GetField(0, f::kOrigin).AsText(), "FIRST");
    EXPECT_EQ(set.GetField(1, f::kType).AsInt32(), 2);
    EXPECT_EQ(set.GetField(1, f::kOrigin).AsText(), "SECOND");
    EXPECT_EQ(set.GetField(1, f::kRecipient).AsText(), "ALL");
    EXPECT_EQ(set.GetField(1, f::kMessage).AsText(), "two");
    EXPECT_EQ(set.GetField(1, f::kReceived).AsInt64(), 22);
}

TEST(FileTime, CalendarConversionsAndTheLocalZone) {
    // Known anchors: the start of the count (a Monday) and the Unix epoch (a Thursday).
    EXPECT_EQ(file_time::ToCalendar(0).day_of_week, 1);
    const auto epoch = file_time::ToCalendar(file_time::kUnixEpoch);
    EXPECT_EQ(epoch.year * 10000 + epoch.month * 100 + epoch.day, 19700101);
    EXPECT_EQ(epoch.day_of_week, 4);
    EXPECT_EQ(file_time::ToCalendar(-5).year, 1601);
    // A leap day with every field in use; below a millisecond is ignored.
    const file_time::CalendarTime leap{2024, 2, 29, 23, 59, 58, 987, 4};
    const auto back = file_time::ToCalendar(file_time::FromCalendar(leap) + 9999);
    EXPECT_EQ(std::tie(back.year, back.month, back.day, back.hour, back.minute, back.second,
                       back.millisecond, back.day_of_week),
              std::tie(leap.year, leap.month, leap.day, leap.hour, leap.minute, leap.second,
                       leap.millisecond, leap.day_of_week));

    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    ASSERT_NE(::localtime_r(&seconds, &local), nullptr);
    const auto fields = file_time::ToCalendar(file_time::LocalFromSystemClock(now));
    EXPECT_EQ(fields.day, local.tm_mday);
    EXPECT_EQ(fields.hour, local.tm_hour);
    EXPECT_EQ(fields.minute, local.tm_min);
}

}  // namespace
