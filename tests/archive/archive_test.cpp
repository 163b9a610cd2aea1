#include "archive/archive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "archive/file_time.h"

namespace {

namespace f = archive_field;

// Moves the current record away while the append is being announced.
class Wanderer : public TlObserver {
  public:
    void Update(TlObservationSubject* subject) override {
        static_cast<TlDataSet*>(subject)->SetCurrent(0);
    }
};

TEST(ArchiveMessage, FillsTheAppendedRecordEvenIfAnObserverMovesTheCurrentOne) {
    TlArrayDataSet set;
    std::mutex lock;
    ArchiveMessage(set, lock, {1, "FIRST", "ME", "one", 11});
    Wanderer wanderer;
    set.Attach(&wanderer);
    const int index = ArchiveMessage(set, lock, {2, "SECOND", "ALL", "two", 22});
    EXPECT_EQ(index, 1);
    EXPECT_EQ(set.GetField(0, f::kOrigin).AsText(), "FIRST");
    EXPECT_EQ(set.GetField(0, f::kReceived).AsInt64(), 11);
    EXPECT_EQ(set.GetField(1, f::kType).AsInt32(), 2);
    EXPECT_EQ(set.GetField(1, f::kOrigin).AsText(), "SECOND");
    EXPECT_EQ(set.GetField(1, f::kRecipient).AsText(), "ALL");
    EXPECT_EQ(set.GetField(1, f::kMessage).AsText(), "two");
    EXPECT_EQ(set.GetField(1, f::kReceived).AsInt64(), 22);
}

// Several port threads append while a reader pages under the same lock: every record the reader
// sees is whole, and nothing is lost.
TEST(ArchiveMessage, ConcurrentWritersAndAPagingReader) {
    TlArrayDataSet set;
    std::mutex lock;
    constexpr int kWriters = 4;
    constexpr int kEach = 500;
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};

    std::thread reader([&] {
        while (!done.load()) {
            std::lock_guard guard(lock);
            set.MovePrev();
            const int i = set.GetCurrent();
            if (i >= 0 && i <= set.GetLastIndex()) {
                // Origin "W<n>" and message "<n>:<k>" are written together.
                const std::string origin = set.GetField(i, f::kOrigin).AsText();
                const std::string message = set.GetField(i, f::kMessage).AsText();
                if (origin.empty() || message.rfind(origin.substr(1) + ":", 0) != 0 ||
                    set.GetField(i, f::kReceived).AsInt64() == 0) {
                    ++torn;
                }
            }
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int k = 0; k < kEach; ++k) {
                ArchiveMessage(set, lock,
                               {1, "W" + std::to_string(w), "ME",
                                std::to_string(w) + ":" + std::to_string(k), 1 + k});
            }
        });
    }
    for (auto& t : writers) {
        t.join();
    }
    done = true;
    reader.join();

    EXPECT_EQ(torn.load(), 0);
    ASSERT_EQ(set.GetCount(), kWriters * kEach);
    std::set<std::string> messages;
    for (int i = 0; i < set.GetCount(); ++i) {
        messages.insert(set.GetField(i, f::kMessage).AsText());
    }
    EXPECT_EQ(messages.size(), static_cast<std::size_t>(kWriters * kEach));
}

TEST(ArchiveMessage, ProcessWideArchiveAndLock) {
    const int before = TheArchive().GetCount();
    const int index = ArchiveMessage({2, "HOST", "*", "broadcast", file_time::LocalNow()});
    std::lock_guard guard(ArchiveLock());
    EXPECT_EQ(index, before);
    EXPECT_EQ(TheArchive().GetCount(), before + 1);
    EXPECT_EQ(TheArchive().GetCurrent(), index);
    EXPECT_EQ(&TheArchive(), &TheArchive());
}

TEST(FileTime, CalendarConversionsRoundTrip) {
    // Known anchors: the start of the count and the Unix epoch.
    const auto start = file_time::ToCalendar(0);
    EXPECT_EQ(start.year, 1601);
    EXPECT_EQ(start.day_of_week, 1);  // a Monday
    const auto epoch = file_time::ToCalendar(file_time::kUnixEpoch);
    EXPECT_EQ(epoch.year, 1970);
    EXPECT_EQ(epoch.month, 1);
    EXPECT_EQ(epoch.day, 1);
    EXPECT_EQ(epoch.day_of_week, 4);  // a Thursday

    // A leap day with every field in use.
    const file_time::CalendarTime leap{2024, 2, 29, 23, 59, 58, 987, 4};
    const std::int64_t t = file_time::FromCalendar(leap);
    const auto back = file_time::ToCalendar(t + 9999);  // below one millisecond: ignored
    EXPECT_EQ(back.year, 2024);
    EXPECT_EQ(back.month, 2);
    EXPECT_EQ(back.day, 29);
    EXPECT_EQ(back.hour, 23);
    EXPECT_EQ(back.minute, 59);
    EXPECT_EQ(back.second, 58);
    EXPECT_EQ(back.millisecond, 987);
    EXPECT_EQ(back.day_of_week, 4);  // a Thursday
    EXPECT_EQ(file_time::ToCalendar(-5).year, 1601);
}

TEST(FileTime, LocalTimeCarriesTheZoneOffset) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    ASSERT_NE(::localtime_r(&seconds, &local), nullptr);
    const auto fields = file_time::ToCalendar(file_time::LocalFromSystemClock(now));
    EXPECT_EQ(fields.year, local.tm_year + 1900);
    EXPECT_EQ(fields.month, local.tm_mon + 1);
    EXPECT_EQ(fields.day, local.tm_mday);
    EXPECT_EQ(fields.hour, local.tm_hour);
    EXPECT_EQ(fields.minute, local.tm_min);
    EXPECT_EQ(fields.day_of_week, local.tm_wday);
}

}  // namespace
