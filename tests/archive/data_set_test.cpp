#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "archive/array_data_set.h"
#include "archive/variant.h"

namespace {

namespace f = archive_field;

TEST(Variant, KindsAndReadingRules) {
    const TlVariant empty;
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_EQ(empty.AsInt32(), 0);
    EXPECT_EQ(empty.AsText(), "");

    const TlVariant text("1");
    EXPECT_TRUE(text.IsText());
    EXPECT_EQ(text.AsInt32(), 0);  // text never reads as a number
    EXPECT_EQ(text.AsText(), "1");

    // A 32-bit number fills only the low half.
    const TlVariant minus_one(std::int32_t{-1});
    EXPECT_EQ(minus_one.AsInt64(), 0xFFFFFFFFll);
    EXPECT_EQ(minus_one.AsInt32(), -1);
    EXPECT_EQ(minus_one.AsText(), "");

    const std::int64_t big = std::numeric_limits<std::int64_t>::min() + 12345;
    EXPECT_EQ(TlVariant(big).AsInt64(), big);

    // A copy owns its text; assigning replaces text and kind.
    TlVariant a("hello");
    TlVariant b = a;
    a = TlVariant(std::int32_t{7});
    EXPECT_EQ(b.AsText(), "hello");
    EXPECT_EQ(a.AsText(), "");
    EXPECT_EQ(a.AsInt32(), 7);
    EXPECT_EQ(TlVariant(static_cast<const char*>(nullptr)).AsText(), "");
}

TEST(ArrayDataSet, PagingOnAnEmptyArchive) {
    TlArrayDataSet set;
    EXPECT_EQ(set.GetLastIndex(), -1);
    EXPECT_EQ(set.GetCount(), 0);
    EXPECT_EQ(set.GetCurrent(), 0);
    EXPECT_FALSE(set.HasCurrent());
    set.MoveLast();
    EXPECT_EQ(set.GetCurrent(), -1);
    set.MoveNext();
    EXPECT_EQ(set.GetCurrent(), -1);
    set.MovePrev();
    EXPECT_EQ(set.GetCurrent(), -1);
    EXPECT_EQ(set.Append(), 0);
    EXPECT_EQ(set.GetCurrent(), 0);
    EXPECT_TRUE(set.HasCurrent());
}

TEST(ArrayDataSet, PagingStopsAtBothEnds) {
    TlArrayDataSet set;
    set.Append();
    set.Append();
    set.Append();
    EXPECT_EQ(set.GetCurrent(), 2);
    EXPECT_EQ(set.GetCount(), 3);
    set.MoveNext();
    EXPECT_EQ(set.GetCurrent(), 2);
    set.MovePrev();
    set.MovePrev();
    EXPECT_EQ(set.GetCurrent(), 0);
    set.MovePrev();
    EXPECT_EQ(set.GetCurrent(), 0);
    set.MoveNext();
    EXPECT_EQ(set.GetCurrent(), 1);
    set.MoveLast();
    EXPECT_EQ(set.GetCurrent(), 2);
    // An append makes the new record current for every reader.
    set.SetCurrent(0);
    EXPECT_EQ(set.Append(), 3);
    EXPECT_EQ(set.GetCurrent(), 3);
}

TEST(ArrayDataSet, FieldsByExactName) {
    TlArrayDataSet set;
    const int i = set.Append();
    // A new record: type 0, empty texts, received 0.
    EXPECT_EQ(set.GetField(i, f::kType), TlVariant(std::int32_t{0}));
    EXPECT_EQ(set.GetField(i, f::kOrigin), TlVariant(""));
    EXPECT_EQ(set.GetField(i, f::kReceived), TlVariant(std::int64_t{0}));

    const std::int64_t received = 0x01DA'3B2C'1D0E'F123;  // high and low halves both in use
    set.SetField(i, f::kType, TlVariant(std::int32_t{2}));
    set.SetField(i, f::kOrigin, TlVariant("ALPHA"));
    set.SetField(i, f::kRecipient, TlVariant("bravo"));
    set.SetField(i, f::kMessage, TlVariant("Grüße\r\nzweite Zeile"));
    set.SetField(i, f::kReceived, TlVariant(received));

    EXPECT_EQ(set.GetField(i, "Type").AsInt32(), 2);
    EXPECT_TRUE(set.GetField(i, "Type").IsNumber());
    EXPECT_EQ(set.GetField(i, "Origin").AsText(), "ALPHA");
    EXPECT_EQ(set.GetField(i, "Recipient").AsText(), "bravo");
    EXPECT_EQ(set.GetField(i, "Message").AsText(), "Grüße\r\nzweite Zeile");
    EXPECT_EQ(set.GetField(i, "Received").AsInt64(), received);

    // Names are exact: other spellings read as empty text and write nothing.
    EXPECT_EQ(set.GetField(i, "type"), TlVariant(""));
    EXPECT_EQ(set.GetField(i, "Origin "), TlVariant(""));
    set.SetField(i, "origin", TlVariant("CHANGED"));
    set.SetField(i, "Sender", TlVariant("CHANGED"));
    EXPECT_EQ(set.GetField(i, "Origin").AsText(), "ALPHA");

    // The kind keeps the low 32 bits of what it is given; text fields take only text.
    set.SetField(i, f::kType, TlVariant(std::int64_t{0x1'0000'0001}));
    EXPECT_EQ(set.GetField(i, f::kType).AsInt32(), 1);
    set.SetField(i, f::kOrigin, TlVariant(std::int32_t{5}));
    EXPECT_EQ(set.GetField(i, f::kOrigin).AsText(), "");
}

TEST(ArrayDataSet, IndexesOutsideTheRecordsAreHarmless) {
    TlArrayDataSet set;
    set.SetField(0, f::kOrigin, TlVariant("nobody"));  // nothing to set yet
    EXPECT_EQ(set.GetField(0, f::kOrigin), TlVariant(""));
    set.Append();
    for (int bad : {-1, 1, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}) {
        set.SetField(bad, f::kMessage, TlVariant("x"));
        EXPECT_EQ(set.GetField(bad, f::kMessage), TlVariant("")) << bad;
        EXPECT_EQ(set.Record(bad), nullptr);
    }
    EXPECT_EQ(set.GetField(0, f::kMessage).AsText(), "");
}

class CountingObserver : public TlObserver {
  public:
    void Update(TlObservationSubject* subject) override {
        auto* set = static_cast<TlDataSet*>(subject);
        ++calls;
        count_seen = set->GetCount();
        origin_seen = set->GetField(set->GetCurrent(), f::kOrigin).AsText();
    }
    int calls = 0;
    int count_seen = 0;
    std::string origin_seen = "unset";
};

TEST(ArrayDataSet, AppendIsAnnouncedBeforeTheFieldsAreFilled) {
    TlArrayDataSet set;
    CountingObserver observer;
    set.Attach(&observer);
    EXPECT_EQ(set.AppendAndNotify(), 0);
    EXPECT_EQ(observer.calls, 1);
    EXPECT_EQ(observer.count_seen, 1);
    EXPECT_EQ(observer.origin_seen, "");
    set.Append();  // a plain append announces nothing
    EXPECT_EQ(observer.calls, 1);
}

}  // namespace
