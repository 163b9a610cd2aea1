#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reception/smb/smb_pdu.h"
#include "reception/smb/smb_pdu_sends.h"
#include "reception/smb/smb_pdu_sendstrt.h"
#include "reception/smb/smb_pdu_sendtxt.h"
#include "tests/pdu/wire_bytes.h"

namespace {

template <typename Pdu>
Bytes Encoded(Pdu& pdu) {
    CDataBuffer b;
    pdu.Encode(b);
    return BytesOf(b);
}

}  // namespace

// Strings are taken by position inside the byte count; format bytes are stepped over unexamined
// and only the low byte of a text length is read. Bytes received after the data never count.
TEST(SmbStringPositions, FieldsEndAtTheByteCount) {
    struct Case {
        Bytes data;
        const char *origin, *recipient, *text;
    };
    const Case cases[] = {
        {{4, 'b', 'o', 'b'}, "bob", "", ""},
        {{4, 'b', 0, 4, 'A', 'L'}, "b", "AL", ""},
        {{4, 'b', 0, 4, 'A', 0, 1, 9, 0, 'h', 'i'}, "b", "A", "hi"},
        {{0x99, 'o', 0, 0x98, 'r', 0, 0x97, 2, 0xFF, 'h', 0x84, '+'}, "o", "r", "hä"},
        {{}, "", "", ""},
    };
    for (const auto& c : cases) {
        Bytes wire = SmbUnit(0xD0, c.data);
        wire.insert(wire.end(), {'Z', 0, 'Z', 'Z'});
        CSmbPdu_sends sends;
        ASSERT_TRUE(sends.Decode(BufferOf(wire)));
        EXPECT_EQ(sends.origin, c.origin);
        EXPECT_EQ(sends.recipient, c.recipient);
        EXPECT_EQ(sends.text, c.text);
        CSmbPdu_sendstrt start;
        ASSERT_TRUE(start.Decode(BufferOf(SmbUnit(0xD5, c.data))));
        EXPECT_EQ(start.recipient, c.recipient);
    }
    CSmbPdu_sendtxt txt;
    ASSERT_TRUE(txt.Decode(BufferOf(SmbUnit(0xD7, Concat({1, 0x27, 0x01}, Bytes(300, 'x'))))));
    EXPECT_EQ(txt.text, std::string(0x27, 'x')) << "length 0x0127 is read by its low byte";
    ASSERT_TRUE(txt.Decode(BufferOf(Concat(SmbUnit(0xD7, {1, 10, 0, 'a', 'b'}), {'c', 'd'}))));
    EXPECT_EQ(txt.text, "ab");
}

// A unit whose counts do not fit the received bytes fails like a failed receive and leaves the
// unit as newly constructed.
TEST(SmbRejection, CountsRunningPastTheReceivedBytesFail) {
    const Bytes good = SmbUnit(0xD0, {4, 'a', 0, 4, 'b', 0, 1, 1, 0, 'c'});
    for (std::size_t n = 0; n < good.size(); ++n) {
        CSmbPdu_sends sends;
        ASSERT_TRUE(sends.Decode(BufferOf(good)));
        EXPECT_FALSE(sends.Decode(BufferOf(Bytes(good.begin(), good.begin() + n)))) << n;
        EXPECT_EQ(sends.command, 0);
        EXPECT_EQ(sends.byte_count, 0);
        EXPECT_EQ(sends.origin + sends.recipient + sends.text, "");
    }
    CSmbPdu plain;
    EXPECT_FALSE(plain.Decode(BufferOf(SmbUnit(0xD5, {}, {1, 2}, 200))));
    const Bytes start = SmbUnit(0xD5, {}, {1});
    EXPECT_FALSE(plain.Decode(BufferOf(Bytes(start.begin(), start.end() - 1)))) << "count cut";
    EXPECT_FALSE(plain.Decode(BufferOf(SmbUnit(0xD7, {}, {}, -1, 0xFFFF))));
    EXPECT_FALSE(plain.DecodeBytes(SmbUnit(0xD7, Bytes(1025, 'x')))) << "more than the array holds";
    CSmbPdu_sends full;
    ASSERT_TRUE(full.DecodeBytes(SmbUnit(0xD0, Bytes(1024, 'x'))));
    EXPECT_EQ(full.origin.size(), 1023u);
    EXPECT_TRUE(plain.Decode(BufferOf(SmbUnit(0xD7, {1, 2, 3}, {}, -1, 2)))) << "bytes left over";

    // The array of a buffer holds bytes past its length that were never received.
    CDataBuffer buffer = BufferOf(SmbUnit(0xD7, {1, 3, 0, 'a', 'b', 'c'}));
    buffer.SetLength(buffer.Length() - 1);
    EXPECT_FALSE(plain.Decode(buffer));
}

// Encoding (replies, and senders in tests and benchmarks) never writes past the buffer: what does
// not fit, or cannot be stated, is cut.
TEST(SmbEncode, StringsRoundTripAndOversizedFieldsAreCut) {
    CSmbPdu_sends sends;
    sends.Reset();
    sends.origin = "ALICE";
    sends.recipient = "BOB";
    sends.text = "Lunch?\x14Yes";
    EXPECT_EQ(Encoded(sends), smb::SingleBlock("ALICE", "BOB", "Lunch?\x14Yes"));
    CSmbPdu_sendtxt txt;
    txt.Reset();
    txt.text = "äöü";
    EXPECT_EQ(Encoded(txt), SmbUnit(0xD7, smb::Block("\x84\x94\x81"))) << "OEM bytes and length";
    // The one-byte length cannot state more than 255; names too long for the buffer are cut.
    txt.text = std::string(300, 'y');
    ASSERT_TRUE(txt.Decode(BufferOf(Encoded(txt))));
    EXPECT_EQ(txt.text, std::string(255, 'y'));
    CSmbPdu_sendstrt start;
    start.Reset();
    start.origin = std::string(2000, 'o');
    start.recipient = "R";
    ASSERT_TRUE(start.Decode(BufferOf(Encoded(start))));
    EXPECT_EQ(start.origin, std::string(1024 - 35 - 4, 'o'));
    CSmbPdu plain;
    plain.word_count = 255;
    plain.byte_count = 0xFFFF;
    ASSERT_TRUE(plain.Decode(BufferOf(Encoded(plain))));
    EXPECT_EQ(plain.byte_count, 1024 - 35 - 2 * 255) << "the byte count says what was cut";
}
