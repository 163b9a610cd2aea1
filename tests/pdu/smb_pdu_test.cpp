#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reception/smb/smb_pdu.h"
#include "reception/smb/smb_pdu_sendend.h"
#include "reception/smb/smb_pdu_sends.h"
#include "reception/smb/smb_pdu_sendstrt.h"
#include "reception/smb/smb_pdu_sendtxt.h"
#include "tests/pdu/wire_bytes.h"

namespace {

// A unit with a zeroed header; the counts are those of words and data unless given.
Bytes Unit(std::uint8_t command, const Bytes& data, std::vector<std::uint16_t> words = {},
           int word_count = -1, int byte_count = -1) {
    Bytes u = {0xFF, 'S', 'M', 'B', command};
    u.resize(32, 0);
    u.push_back(static_cast<std::uint8_t>(word_count < 0 ? words.size() : word_count));
    const int b = byte_count < 0 ? static_cast<int>(data.size()) : byte_count;
    for (int v : words) {
        u.insert(u.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
    }
    u.insert(u.end(), {static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(b >> 8)});
    u.insert(u.end(), data.begin(), data.end());
    return u;
}

template <typename Pdu>
Bytes Encoded(Pdu& pdu) {
    CDataBuffer b;
    pdu.Encode(b);
    return BytesOf(b);
}

}  // namespace

TEST(SmbReplies, ResetUnitsEncodeAsEmptyRepliesOfTheirCommand) {
    CSmbPdu_sends sends;
    EXPECT_EQ(sends.command, 0) << "construction sets only the base part";
    sends.origin = "left over";
    sends.Reset();
    EXPECT_TRUE(sends.origin.empty());
    EXPECT_EQ(Encoded(sends), Unit(0xD0, {}));  // 35 bytes, all zero but protocol and command

    CSmbPdu_sendstrt start;
    start.Reset();
    start.word_count = 1;
    start.words[0] = 0x1234;
    EXPECT_EQ(Encoded(start), Unit(0xD5, {}, {0x1234}));  // 37 bytes, group id in word 0
    CSmbPdu_sendtxt txt;
    txt.Reset();
    CSmbPdu_sendend end;
    end.Reset();
    EXPECT_EQ(Encoded(txt), Unit(0xD7, {}));
    EXPECT_EQ(Encoded(end), Unit(0xD6, {}));
}

TEST(SmbReplies, HeaderFieldsAreLittleEndianInWireOrder) {
    Bytes wire(38);
    for (std::size_t i = 0; i < wire.size(); ++i) {
        wire[i] = static_cast<std::uint8_t>(i);
    }
    wire[32] = 1;  // one word at 33, the byte count at 35, one data byte at 37
    wire[35] = 1;
    wire[36] = 0;
    CSmbPdu pdu;
    ASSERT_TRUE(pdu.Decode(BufferOf(wire)));
    EXPECT_EQ(pdu.command, 4);
    EXPECT_EQ(pdu.error_code, 0x0807);
    EXPECT_EQ(pdu.flags, 9);
    EXPECT_EQ(pdu.reserved_block[13], 23);
    EXPECT_EQ(pdu.tid, 0x1918);
    EXPECT_EQ(pdu.mid, 0x1F1E);
    EXPECT_EQ(pdu.words[0], 0x2221);
    EXPECT_EQ(pdu.bytes[0], 37);
    EXPECT_EQ(Encoded(pdu), wire);
}

// What Samba's smbclient -M sends: start, one text block in CP850, end.
TEST(SmbPeerVectors, SmbclientMultiBlockMessageDecodes) {
    CSmbPdu plain;
    ASSERT_TRUE(plain.Decode(BufferOf(FromHex(kSambaStart))));
    EXPECT_EQ(plain.command, 0xD5);
    EXPECT_EQ(plain.pid, 0x1989);
    EXPECT_EQ(Encoded(plain), FromHex(kSambaStart)) << "a decoded unit re-encodes to its bytes";
    CSmbPdu_sendstrt start;
    ASSERT_TRUE(start.Decode(BufferOf(FromHex(kSambaStart))));
    EXPECT_EQ(start.origin, "sender");
    EXPECT_EQ(start.recipient, "testuser");
    CSmbPdu_sendtxt txt;
    ASSERT_TRUE(txt.Decode(BufferOf(FromHex(kSambaText))));
    EXPECT_EQ(txt.text, "Hello from smbclient\r\nsecond line äöü\r\n");
    CSmbPdu_sendend end;
    ASSERT_TRUE(end.Decode(BufferOf(FromHex(kSambaEnd))));
    EXPECT_EQ(end.command, 0xD6);
    EXPECT_EQ(end.word_count, 1);
}

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
        Bytes wire = Unit(0xD0, c.data);
        wire.insert(wire.end(), {'Z', 0, 'Z', 'Z'});
        CSmbPdu_sends sends;
        ASSERT_TRUE(sends.Decode(BufferOf(wire)));
        EXPECT_EQ(sends.origin, c.origin);
        EXPECT_EQ(sends.recipient, c.recipient);
        EXPECT_EQ(sends.text, c.text);
        CSmbPdu_sendstrt start;
        ASSERT_TRUE(start.Decode(BufferOf(Unit(0xD5, c.data))));
        EXPECT_EQ(start.recipient, c.recipient);
    }
    CSmbPdu_sendtxt txt;
    ASSERT_TRUE(txt.Decode(BufferOf(Unit(0xD7, Concat({1, 0x27, 0x01}, Bytes(300, 'x'))))));
    EXPECT_EQ(txt.text, std::string(0x27, 'x')) << "length 0x0127 is read by its low byte";
    ASSERT_TRUE(txt.Decode(BufferOf(Concat(Unit(0xD7, {1, 10, 0, 'a', 'b'}), {'c', 'd'}))));
    EXPECT_EQ(txt.text, "ab");
}

// A unit whose counts do not fit the received bytes fails like a failed receive and leaves the
// unit as newly constructed.
TEST(SmbRejection, CountsRunningPastTheReceivedBytesFail) {
    const Bytes good = Unit(0xD0, {4, 'a', 0, 4, 'b', 0, 1, 1, 0, 'c'});
    for (std::size_t n = 0; n < good.size(); ++n) {
        CSmbPdu_sends sends;
        ASSERT_TRUE(sends.Decode(BufferOf(good)));
        EXPECT_FALSE(sends.Decode(BufferOf(Bytes(good.begin(), good.begin() + n)))) << n;
        EXPECT_EQ(sends.command, 0);
        EXPECT_EQ(sends.byte_count, 0);
        EXPECT_EQ(sends.origin + sends.recipient + sends.text, "");
    }
    CSmbPdu plain;
    EXPECT_FALSE(plain.Decode(BufferOf(Unit(0xD5, {}, {1, 2}, 200))));
    const Bytes start = Unit(0xD5, {}, {1});
    EXPECT_FALSE(plain.Decode(BufferOf(Bytes(start.begin(), start.end() - 1)))) << "count cut";
    EXPECT_FALSE(plain.Decode(BufferOf(Unit(0xD7, {}, {}, -1, 0xFFFF))));
    EXPECT_FALSE(plain.DecodeBytes(Unit(0xD7, Bytes(1025, 'x')))) << "more than the array holds";
    CSmbPdu_sends full;
    ASSERT_TRUE(full.DecodeBytes(Unit(0xD0, Bytes(1024, 'x'))));
    EXPECT_EQ(full.origin.size(), 1023u);
    EXPECT_TRUE(plain.Decode(BufferOf(Unit(0xD7, {1, 2, 3}, {}, -1, 2)))) << "bytes left over";

    // The array of a buffer holds bytes past its length that were never received.
    CDataBuffer buffer = BufferOf(Unit(0xD7, {1, 3, 0, 'a', 'b', 'c'}));
    buffer.SetLength(buffer.Length() - 1);
    EXPECT_FALSE(plain.Decode(buffer));
}

TEST(SmbEncode, StringsRoundTripAndOversizedFieldsAreCut) {
    CSmbPdu_sends sends;
    sends.Reset();
    sends.origin = "ALICE";
    sends.recipient = "BOB";
    sends.text = "Lunch?\x14Yes";
    const Bytes wire = Encoded(sends);
    EXPECT_EQ(wire,
              Unit(0xD0, Concat(BytesOf("\4ALICE\0\4BOB\0\1\12\0"), BytesOf("Lunch?\x14Yes"))));
    CSmbPdu_sends back;
    ASSERT_TRUE(back.Decode(BufferOf(wire)));
    EXPECT_EQ(back.origin + "|" + back.recipient + "|" + back.text, "ALICE|BOB|Lunch?\x14Yes");
    sends.recipient.clear();
    EXPECT_EQ(Encoded(sends), Unit(0xD0, {})) << "no data without both names";

    CSmbPdu_sendtxt txt;
    txt.Reset();
    txt.text = "äöü";
    EXPECT_EQ(Encoded(txt), Unit(0xD7, {1, 3, 0, 0x84, 0x94, 0x81})) << "OEM bytes, OEM length";
    // The one-byte length cannot state more than 255: the text is cut rather than misstated.
    txt.text = sends.text = std::string(300, 'y');
    sends.recipient = "BOB";
    CSmbPdu_sendtxt txt_back;
    ASSERT_TRUE(txt_back.Decode(BufferOf(Encoded(txt))));
    EXPECT_EQ(txt_back.text, std::string(255, 'y'));
    ASSERT_TRUE(back.Decode(BufferOf(Encoded(sends))));
    EXPECT_EQ(back.text, std::string(255, 'y'));

    // Names too long for the buffer are cut, a zero byte ends a name, nothing overflows.
    CSmbPdu_sendstrt start;
    start.Reset();
    start.origin = std::string(2000, 'o');
    start.recipient = "R";
    CSmbPdu_sendstrt start_back;
    ASSERT_TRUE(start_back.Decode(BufferOf(Encoded(start))));
    EXPECT_EQ(start_back.origin, std::string(1024 - 35 - 4, 'o'));
    start.origin = std::string("ab\0cd", 5);
    ASSERT_TRUE(start_back.Decode(BufferOf(Encoded(start))));
    EXPECT_EQ(start_back.origin + "|" + start_back.recipient, "ab|R");

    CSmbPdu plain;
    plain.word_count = 255;
    plain.byte_count = 0xFFFF;
    CSmbPdu plain_back;
    ASSERT_TRUE(plain_back.Decode(BufferOf(Encoded(plain))));
    EXPECT_EQ(plain_back.byte_count, 1024 - 35 - 2 * 255) << "the byte count says what was cut";
}
