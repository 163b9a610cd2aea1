#include <gtest/gtest.h>

#include <numeric>

#include "platform/netbios/wire/datagram.h"
#include "platform/netbios/wire/mailslot_write.h"
#include "platform/netbios/wire/name.h"
#include "platform/netbios/wire/name_service.h"
#include "platform/netbios/wire/session.h"

// The codecs: known wire forms, round trips, and refusal of every malformed or cut input.
namespace wire = platform::netbios::wire;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

TEST(NetbiosNameCodec, EncodesToTheFirstLevelFormAndBack) {
    Bytes out;
    wire::EncodeName(wire::MakeName("ALICE", 0x03), out);
    const std::string letters(out.begin() + 1, out.end() - 1);
    EXPECT_EQ(out.size(), wire::kEncodedNameSize);
    EXPECT_EQ(out.front(), 32);
    EXPECT_EQ(out.back(), 0);
    EXPECT_EQ(letters, "EBEMEJEDEFCACACACACACACACACACAAD");

    // Every byte value survives, and a long base is cut to 15 bytes.
    wire::NetbiosName all;
    for (int start = 0; start < 256; start += 16) {
        std::iota(all.begin(), all.end(), static_cast<std::uint8_t>(start));
        Bytes e;
        wire::EncodeName(all, e);
        std::size_t offset = 0;
        auto d = wire::DecodeName(e, offset, false);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->name, all);
        EXPECT_EQ(offset, e.size());
    }
    EXPECT_EQ(wire::NameText(wire::MakeName("A-VERY-LONG-USER-NAME", 3)), "A-VERY-LONG-USE<03>");
    EXPECT_EQ(wire::NameText(wire::WildcardName()), "*<00>");
}

TEST(NetbiosNameCodec, RefusesMalformedNamesAndBoundsPointerWalks) {
    Bytes good;
    wire::EncodeName(wire::MakeName("BOB", 0), good);
    for (std::size_t n = 0; n < good.size(); ++n) {
        std::size_t offset = 0;
        EXPECT_FALSE(wire::DecodeName(Bytes(good.begin(), good.begin() + static_cast<long>(n)),
                                      offset, true))
            << "cut at " << n;
        EXPECT_EQ(offset, 0u);
    }
    Bytes bad_letter = good;
    bad_letter[5] = 'Q';
    Bytes short_label = {30, 'A', 'A', 0};
    Bytes reserved = {0x40, 0};
    Bytes empty = {0};
    for (const auto& b : {bad_letter, short_label, reserved, empty}) {
        std::size_t offset = 0;
        EXPECT_FALSE(wire::DecodeName(b, offset, true));
    }

    // Pointers: only backwards, only when allowed, never in circles.
    Bytes message = Cat({Bytes(12, 0), good, {0xC0, 12}});
    std::size_t offset = 12 + good.size();
    auto followed = wire::DecodeName(message, offset, true);
    ASSERT_TRUE(followed);
    EXPECT_EQ(followed->name, wire::MakeName("BOB", 0));
    EXPECT_EQ(offset, message.size()) << "continues after the pointer";
    offset = 12 + good.size();
    EXPECT_FALSE(wire::DecodeName(message, offset, false));
    Bytes self = {0xC0, 0};
    Bytes forward = {0xC0, 2, 0};
    Bytes loop = Cat({good, {0xC0, 0}});
    loop[good.size() - 1] = 0xC0;  // the name's end points back at its start
    loop[good.size()] = 0;
    for (const auto& b : {self, forward, loop}) {
        std::size_t at = 0;
        EXPECT_FALSE(wire::DecodeName(b, at, true));
    }

    // A scope is read and reported; an endless one is refused.
    Bytes scoped = good;
    scoped.pop_back();
    scoped.insert(scoped.end(), {3, 'c', 'o', 'm', 0});
    offset = 0;
    auto s = wire::DecodeName(scoped, offset, false);
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->scoped);
    Bytes huge = good;
    huge.pop_back();
    for (int i = 0; i < 5; ++i) {
        huge.push_back(63);
        huge.insert(huge.end(), 63, 'x');
    }
    huge.push_back(0);
    offset = 0;
    EXPECT_FALSE(wire::DecodeName(huge, offset, false));
}

TEST(NameServiceCodec, PacketsHaveTheirPublishedFormAndDecodeBack) {
    const auto name = wire::MakeName("CAROL", 3);
    const std::uint32_t ip = 0x0AD30101;  // 10.211.1.1

    auto reg = wire::EncodeRegistrationRequest(0x1234, name, ip, false);
    auto p = wire::DecodeNsPacket(reg);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->flags, 0x2910);
    EXPECT_EQ(p->opcode(), wire::NsOpcode::Registration);
    ASSERT_EQ(p->questions.size(), 1u);
    ASSERT_EQ(p->additional.size(), 1u);
    EXPECT_EQ(p->additional[0].name, name) << "the pointer to the question is followed";
    EXPECT_EQ(wire::DecodeNbEntries(p->additional[0].rdata).at(0).address, ip);
    EXPECT_EQ(wire::DecodeNsPacket(wire::EncodeRegistrationRequest(1, name, ip, true))->flags,
              0x2810);
    EXPECT_EQ(wire::DecodeNsPacket(wire::EncodeReleaseRequest(1, name, ip))->flags, 0x3010);
    EXPECT_EQ(wire::DecodeNsPacket(wire::EncodeQueryRequest(1, name, true))->flags, 0x0110);

    auto negative = wire::DecodeNsPacket(
        wire::EncodeNegativeRegistrationResponse(7, name, ip, wire::ns_rcode::kActive));
    ASSERT_TRUE(negative);
    EXPECT_EQ(negative->flags, 0xAD86);
    EXPECT_TRUE(negative->response());
    EXPECT_EQ(wire::DecodeNsPacket(wire::EncodeConflictDemand(7, name))->flags, 0xAD87);

    std::vector<wire::NodeStatusName> names = {{name, wire::kActiveFlag},
                                               {wire::MakeName("HOST", 0), wire::kActiveFlag}};
    auto status =
        wire::EncodeNodeStatusResponse(9, wire::WildcardName(), names, {1, 2, 3, 4, 5, 6});
    auto st = wire::DecodeNsPacket(status);
    ASSERT_TRUE(st);
    EXPECT_EQ(st->flags, 0x8400);
    ASSERT_EQ(st->answers.size(), 1u);
    EXPECT_EQ(st->answers[0].rdata.size(), 18u * 2 + 47);
    auto decoded = wire::DecodeNodeStatus(st->answers[0].rdata);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->names.size(), 2u);
    EXPECT_EQ(decoded->names[1].name, wire::MakeName("HOST", 0));
    EXPECT_EQ(decoded->unit_id[5], 6);

    // Every cut of every packet is refused as a whole.
    for (const auto& packet : {reg, status}) {
        for (std::size_t n = 0; n < packet.size(); ++n) {
            EXPECT_FALSE(
                wire::DecodeNsPacket(Bytes(packet.begin(), packet.begin() + static_cast<long>(n))))
                << "cut at " << n;
        }
    }
    // A header promising more records than any packet holds is refused at once.
    Bytes forged = {0, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_FALSE(wire::DecodeNsPacket(forged));
}

TEST(SessionFramingCodec, RequestAndAnswersHaveTheirWireForm) {
    auto request =
        wire::EncodeSessionRequest(wire::MakeName("ALICE", 3), wire::MakeName("LOCALHOST", 0));
    ASSERT_EQ(request.size(), 4u + 68);
    EXPECT_EQ(Bytes(request.begin(), request.begin() + 4), (Bytes{0x81, 0, 0, 68}));
    auto r = wire::DecodeSessionRequest(Bytes(request.begin() + 4, request.end()));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->called, wire::MakeName("ALICE", 3));
    EXPECT_EQ(r->calling, wire::MakeName("LOCALHOST", 0));
    EXPECT_FALSE(wire::DecodeSessionRequest(Bytes(request.begin() + 4, request.end() - 1)));

    auto h = wire::DecodeSessionHeader(Bytes{0x00, 0x01, 0xFF, 0xFF});
    EXPECT_EQ(h->length, 0x1FFFFu) << "the extension bit";
    EXPECT_EQ(wire::EncodeSessionHeader(0, 0x10000)[1], 1);
    auto negative = wire::EncodeNegativeSessionResponse(0x82);
    auto a = wire::DecodeSessionAnswer(negative);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->kind, wire::SessionAnswer::Kind::Negative);
    EXPECT_EQ(a->error, 0x82);
    auto retarget = wire::DecodeSessionAnswer(Bytes{0x84, 0, 0, 6, 10, 0, 0, 1, 0, 139});
    ASSERT_TRUE(retarget);
    EXPECT_EQ(retarget->address, 0x0A000001u);
    EXPECT_EQ(retarget->port, 139);
    EXPECT_FALSE(wire::DecodeSessionAnswer(Bytes{0x83, 0, 0, 1}));
}

// Feeds the stream in pieces of the given size and collects whole messages.
std::vector<Bytes> Split(const Bytes& stream, std::size_t piece, std::size_t room,
                         wire::SessionStreamReader::Status* last = nullptr) {
    wire::SessionStreamReader reader(1000);
    std::vector<Bytes> messages;
    Bytes current;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        std::span<const std::uint8_t> chunk(stream.data() + at,
                                            std::min(piece, stream.size() - at));
        while (!chunk.empty()) {
            auto step = reader.Next(chunk, room);
            current.insert(current.end(), step.data.begin(), step.data.end());
            chunk = chunk.subspan(step.consumed);
            if (last) {
                *last = step.status;
            }
            if (step.status == wire::SessionStreamReader::Status::MessageEnd) {
                messages.push_back(std::move(current));
                current.clear();
            } else if (step.status == wire::SessionStreamReader::Status::BadFrame ||
                       step.status == wire::SessionStreamReader::Status::TooLarge) {
                return messages;
            } else if (step.consumed == 0 &&
                       step.status != wire::SessionStreamReader::Status::NeedMore) {
                ADD_FAILURE() << "no progress";
                return messages;
            }
        }
    }
    return messages;
}

TEST(SessionFramingCodec, StreamReaderFindsTheSameMessagesAtEveryChunkBoundary) {
    Bytes body(300);
    std::iota(body.begin(), body.end(), 0);
    const Bytes stream = Cat({{0x85, 0, 0, 0},
                              {0, 0, 1, 44},
                              body,
                              {0x85, 0, 0, 3, 9, 9, 9},
                              {0, 0, 0, 0},
                              {0, 0, 0, 2, 0xAA, 0xBB}});
    const std::vector<Bytes> expected = {body, {}, {0xAA, 0xBB}};
    for (std::size_t piece = 1; piece <= stream.size(); ++piece) {
        for (std::size_t room : {std::size_t{1}, std::size_t{7}, std::size_t{1024}}) {
            EXPECT_EQ(Split(stream, piece, room), expected)
                << "pieces of " << piece << ", room " << room;
        }
    }
    wire::SessionStreamReader::Status last{};
    EXPECT_TRUE(Split({0, 0, 3, 233}, 4, 100, &last).empty());  // 1001 bytes: above the limit
    EXPECT_EQ(last, wire::SessionStreamReader::Status::TooLarge);
    EXPECT_EQ(Split({0x82, 0, 0, 0}, 4, 100, &last).size(), 0u);
    EXPECT_EQ(last, wire::SessionStreamReader::Status::BadFrame);

    wire::SessionStreamReader reader(100);
    auto step = reader.Next(Bytes{0, 0, 0, 5, 1, 2}, 0);
    EXPECT_EQ(step.status, wire::SessionStreamReader::Status::Data) << "no room: nothing taken";
    EXPECT_TRUE(step.data.empty());
    EXPECT_TRUE(reader.InMessage());
}

TEST(DatagramCodec, DirectAndBroadcastDatagramsDecodeWithinTheirLength) {
    const Bytes data = {'h', 'i'};
    auto packet =
        wire::EncodeDatagram(wire::datagram_type::kDirectGroup, 0x4242, 0x0A000002, 138,
                             wire::MakeName("SENDER", 0), wire::MakeName("WORKGROUP", 0), data);
    ASSERT_EQ(packet.size(), 14u + 68 + 2);
    EXPECT_EQ(packet[1], wire::datagram_flags::kFirst);
    EXPECT_EQ(packet[10] << 8 | packet[11], 70);
    auto d = wire::DecodeDatagram(packet);
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->Whole());
    EXPECT_EQ(d->source_address, 0x0A000002u);
    EXPECT_EQ(d->destination, wire::MakeName("WORKGROUP", 0));
    EXPECT_EQ(Bytes(d->user_data.begin(), d->user_data.end()), data);

    Bytes trailing = packet;
    trailing.push_back(0xEE);
    EXPECT_EQ(wire::DecodeDatagram(trailing)->user_data.size(), 2u) << "bytes past DGM_LENGTH";
    for (std::size_t n = 0; n < packet.size(); ++n) {
        EXPECT_FALSE(
            wire::DecodeDatagram(Bytes(packet.begin(), packet.begin() + static_cast<long>(n))))
            << "cut at " << n;
    }
    Bytes error = packet;
    error[0] = wire::datagram_type::kError;
    EXPECT_FALSE(wire::DecodeDatagram(error));
    Bytes fragment = packet;
    fragment[1] = wire::datagram_flags::kFirst | wire::datagram_flags::kMore;
    EXPECT_FALSE(wire::DecodeDatagram(fragment)->Whole());
}

TEST(MailslotWriteCodec, TransactionCarriesNameAndDataAndIsCheckedAgainstItsBytes) {
    const Bytes data = {'F', 'R', 'O', 'M', 0, 'T', 'O', 0, 'h', 'e', 'l', 'l', 'o'};
    auto smb = wire::EncodeMailslotWrite("\\MAILSLOT\\MESSNGR", data, 2);
    EXPECT_EQ(smb[32], 17);  // word count
    EXPECT_EQ(smb[59], 3);   // setup count
    EXPECT_EQ(smb[61], 1);   // write
    EXPECT_EQ(smb[65], 2);   // class
    EXPECT_EQ(std::string(smb.begin() + 69, smb.begin() + 86), "\\MAILSLOT\\MESSNGR");
    auto w = wire::DecodeMailslotWrite(smb);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->name, "\\MAILSLOT\\MESSNGR");
    EXPECT_EQ(w->mailslot_class, 2);
    EXPECT_EQ(Bytes(w->data.begin(), w->data.end()), data);

    auto lower = wire::EncodeMailslotWrite("\\mailslot\\messngr", data, 2);
    EXPECT_TRUE(wire::DecodeMailslotWrite(lower)) << "the prefix in any case";
    EXPECT_FALSE(wire::DecodeMailslotWrite(wire::EncodeMailslotWrite("\\PIPE\\X", data, 2)));
    for (std::size_t n = 0; n < smb.size(); ++n) {
        EXPECT_FALSE(
            wire::DecodeMailslotWrite(Bytes(smb.begin(), smb.begin() + static_cast<long>(n))))
            << "cut at " << n;
    }
    Bytes beyond = smb;
    beyond[57] = 0xF0;  // data offset past the end
    EXPECT_FALSE(wire::DecodeMailslotWrite(beyond));
    beyond[57] = 4;  // into the header
    EXPECT_FALSE(wire::DecodeMailslotWrite(beyond));
    Bytes continued = smb;
    continued[35] = 0x40;  // total data count above this part: a fragment
    EXPECT_FALSE(wire::DecodeMailslotWrite(continued));
    Bytes unterminated = smb;
    unterminated.resize(69 + 5);
    unterminated[67] = 5;
    unterminated[68] = 0;
    unterminated[57] = 69;
    unterminated[55] = 0;
    unterminated[35] = 0;
    EXPECT_FALSE(wire::DecodeMailslotWrite(unterminated)) << "name without its zero";
    Bytes not_write = smb;
    not_write[61] = 2;
    EXPECT_FALSE(wire::DecodeMailslotWrite(not_write));
}

}  // namespace
