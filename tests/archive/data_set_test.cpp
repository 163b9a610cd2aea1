#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "archive/array_data_set.h"
#include "common/variant.h"

namespace {

namespace f = archive_field;

TEST(ArrayDataSet, FieldsByExactNameAndHarmlessIndexes) {
    TlArrayDataSet set;
    set.SetField(0, f::kOrigin, TlVariant("nobody"));  // nothing to set yet
    const int i = set.Append();
    EXPECT_EQ(set.GetField(i, f::kType), TlVariant(std::int32_t{0}));
    EXPECT_EQ(set.GetField(i, f::kReceived), TlVariant(std::int64_t{0}));
    const std::int64_t received = 0x01DA'3B2C'1D0E'F123;  // high and low halves both in use
    set.SetField(i, f::kOrigin, TlVariant("ALPHA"));
    set.SetField(i, f::kReceived, TlVariant(received));
    set.SetField(i, f::kType, TlVariant(std::int64_t{0x1'0000'0001}));  // kept: the low half
    set.SetField(i, f::kMessage, TlVariant(std::int32_t{5}));           // text fields take text
    EXPECT_EQ(set.GetField(i, "Origin").AsText(), "ALPHA");
    EXPECT_EQ(set.GetField(i, "Received").AsInt64(), received);
    EXPECT_EQ(set.GetField(i, "Type").AsInt32(), 1);
    EXPECT_EQ(set.GetField(i, "Message").AsText(), "");
    // Names are exact: other spellings read as empty text and write nothing.
    set.SetField(i, "origin", TlVariant("CHANGED"));
    EXPECT_EQ(set.GetField(i, "type"), TlVariant(""));
    EXPECT_EQ(set.GetField(i, "Origin").AsText(), "ALPHA");
    for (int bad : {-1, 1, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}) {
        set.SetField(bad, f::kMessage, TlVariant("x"));
        EXPECT_EQ(set.GetField(bad, f::kMessage), TlVariant("")) << bad;
        EXPECT_EQ(set.Record(bad), nullptr);
    }
}

}  // namespace
