#include <gtest/gtest.h>

#include <string>

#include "reception/mailslot/mailslot_pdu.h"
#include "tests/pdu/wire_bytes.h"

TEST(MailslotDecode, FieldsFollowTerminatorsAndStopAtTheDatagramEnd) {
    struct Case {
        Bytes datagram;
        const char *origin, *recipient, *text;
    };
    const Case cases[] = {
        {BytesOf("ALICE\0WORKGROUP\0Coffee\0"), "ALICE", "WORKGROUP", "Coffee"},
        {BytesOf("ALICE\0WORKGROUP\0Coffee"), "ALICE", "WORKGROUP", "Coffee"},
        {BytesOf("ALICE\0WORKGROUP\0Coffee\0junk\0more"), "ALICE", "WORKGROUP", "Coffee"},
        {BytesOf("ALICE\0"), "ALICE", "", ""},
        {BytesOf("ALI"), "ALI", "", ""},
        {BytesOf("\0\0\0"), "", "", ""},
        {{}, "", "", ""},
        {BytesOf("M\x81ller\0J\x94rg\0\x84\x94\x81\x14\xE1"), "Müller", "Jörg", "äöü\x14ß"},
    };
    for (const auto& c : cases) {
        CMailslotPdu pdu;
        pdu.origin = pdu.recipient = pdu.text = "stale";
        ASSERT_TRUE(pdu.Decode(BufferOf(c.datagram)));
        EXPECT_EQ(pdu.origin, c.origin);
        EXPECT_EQ(pdu.recipient, c.recipient);
        EXPECT_EQ(pdu.text, c.text);
    }
    // The array of a buffer holds bytes past its length that were never received.
    CDataBuffer buffer = BufferOf(BytesOf("A\0B\0text"));
    buffer.SetLength(buffer.Length() - 2);
    CMailslotPdu pdu;
    ASSERT_TRUE(pdu.Decode(buffer));
    EXPECT_EQ(pdu.text, "te");
}

TEST(MailslotEncode, FieldsRoundTripAndOversizedFieldsAreCut) {
    for (const Bytes& wire : {BytesOf("SERVER01\0*\0Shutdown in 5 minutes\0"),
                              BytesOf("M\x81ller\0J\x94rg\0Gr\x81\xE1\x65\x14Zeile\0")}) {
        CMailslotPdu pdu;
        ASSERT_TRUE(pdu.Decode(BufferOf(wire)));
        CDataBuffer out;
        pdu.Encode(out);
        EXPECT_EQ(BytesOf(out), wire);
    }
    // Too long for the buffer: the last fields give way, every terminator stays.
    const std::size_t sizes[][6] = {{5, 900, 900, 5, 900, 116}, {1500, 1, 1, 1021, 0, 0}};
    CMailslotPdu pdu;
    CDataBuffer out;
    for (const auto& s : sizes) {
        pdu.origin = std::string(s[0], 'o');
        pdu.recipient = std::string(s[1], 'r');
        pdu.text = std::string(s[2], 't');
        pdu.Encode(out);
        CMailslotPdu back;
        ASSERT_TRUE(back.Decode(out));
        EXPECT_EQ(back.origin.size(), s[3]);
        EXPECT_EQ(back.recipient.size(), s[4]);
        EXPECT_EQ(back.text.size(), s[5]);
        EXPECT_EQ(out.Data()[CDataBuffer::kCapacity - 1], 0);
    }
    // A zero byte inside a field would split it on the wire; the field ends there instead.
    pdu.origin = std::string("A\0B", 3);
    pdu.recipient = "R";
    pdu.text = "T";
    pdu.Encode(out);
    EXPECT_EQ(BytesOf(out), BytesOf("A\0R\0T\0"));
}
