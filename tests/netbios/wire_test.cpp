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

// Every proper prefix of the bytes is refused by the decoder.
template <typename Decode>
void ExpectEveryCutRefused(const Bytes& whole, Decode decode) {
    for (std::size_t n = 0; n < whole.size(); ++n) {
        EXPECT_FALSE(decode(Bytes(whole.begin(), whole.begin() + static_cast<long>(n))))
            << "cut at " << n;
    }
}

std::optional<wire::DecodedName> Name(const Bytes& b, std::size_t offset = 0) {
    return wire::DecodeName(b, offset, true);
}

TEST(NetbiosNameCodec, EncodesToTheFirstLevelFormAndBackForEveryByte) {
    Bytes out;
    wire::EncodeName(wire::MakeName("ALICE", 0x03), out);
    EXPECT_EQ(std::string(out.begin(), out.end()), std::string("\x20"
                                                               "EBEMEJEDEFCACACACACACACACACACAAD\0",
                                                               34));
    wire::NetbiosName all;
    for (int start = 0; start < 256; start += 16) {
        std::iota(all.begin(), all.end(), static_cast<std::uint8_t>(start));
        Bytes e;
        wire::EncodeName(all, e);
        EXPECT_EQ(Name(e)->name, all);
    }
    EXPECT_EQ(wire::NameText(wire::MakeName("A-VERY-LONG-USER-NAME", 3)), "A-VERY-LONG-USE<03>");
}

TEST(NetbiosNameCodec, RefusesMalformedNamesAndBoundsPointerWalks) {
    Bytes good;
    wire::EncodeName(wire::MakeName("BOB", 0), good);
    ExpectEveryCutRefused(good, [](const Bytes& b) { return Name(b); });
    Bytes bad_letter = good;
    bad_letter[5] = 'Q';
    for (const Bytes& b : {bad_letter, Bytes{30, 'A', 'A', 0}, Bytes{0x40, 0}, Bytes{0}}) {
        EXPECT_FALSE(Name(b));
    }

    // Pointers: only backwards, only when allowed, never in circles.
    const Bytes message = Cat({Bytes(12, 0), good, {0xC0, 12}});
    std::size_t offset = 12 + good.size();
    auto followed = wire::DecodeName(message, offset, true);
    ASSERT_TRUE(followed);
    EXPECT_EQ(followed->name, wire::MakeName("BOB", 0));
    EXPECT_EQ(offset, message.size()) << "continues after the pointer";
    offset = 12 + good.size();
    EXPECT_FALSE(wire::DecodeName(message, offset, false));
    Bytes loop = Cat({good, {0xC0, 0}});
    loop[good.size() - 1] = 0xC0;  // the name's end points back at its start
    loop[good.size()] = 0;
    for (const Bytes& b : {Bytes{0xC0, 0}, Bytes{0xC0, 2, 0}, loop}) {
        EXPECT_FALSE(Name(b));
    }

    // A scope is read and reported; an endless one is refused.
    Bytes scoped = good;
    scoped.pop_back();
    scoped.insert(scoped.end(), {3, 'c', 'o', 'm', 0});
    EXPECT_TRUE(Name(scoped)->scoped);
    Bytes huge(good.begin(), good.end() - 1);
    for (int i = 0; i < 5; ++i) {
        huge.push_back(63);
        huge.insert(huge.end(), 63, 'x');
    }
    huge.push_back(0);
    EXPECT_FALSE(Name(huge));
}

TEST(NameServiceCodec, PacketsDecodeBackAndEveryCutIsRefused) {
    const auto name = wire::MakeName("CAROL", 3);
    const std::uint32_t ip = 0x0AD30101;
    auto reg = wire::EncodeRegistrationRequest(0x1234, name, ip, false);
    auto p = wire::DecodeNsPacket(reg);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->opcode(), wire::NsOpcode::Registration);
    ASSERT_EQ(p->additional.size(), 1u);
    EXPECT_EQ(p->additional[0].name, name) << "the pointer to the question is followed";
    EXPECT_EQ(wire::DecodeNbEntries(p->additional[0].rdata).at(0).address, ip);

    std::vector<wire::NodeStatusName> names = {{name, wire::kActiveFlag},
                                               {wire::MakeName("HOST", 0), wire::kActiveFlag}};
    auto status =
        wire::EncodeNodeStatusResponse(9, wire::WildcardName(), names, {1, 2, 3, 4, 5, 6});
    auto st = wire::DecodeNsPacket(status);
    ASSERT_TRUE(st);
    EXPECT_EQ(st->answers.at(0).rdata.size(), 18u * 2 + 47);
    auto decoded = wire::DecodeNodeStatus(st->answers[0].rdata);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->names.at(1).name, wire::MakeName("HOST", 0));
    EXPECT_EQ(decoded->unit_id, (std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6}));

    for (const auto& packet : {reg, status}) {
        ExpectEveryCutRefused(packet, [](const Bytes& b) { return wire::DecodeNsPacket(b); });
    }
    // A header promising more records than any packet holds is refused at once.
    EXPECT_FALSE(
        wire::DecodeNsPacket(Bytes{0, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(SessionFramingCodec, RequestAndAnswersHaveTheirWireForm) {
    auto request =
        wire::EncodeSessionRequest(wire::MakeName("ALICE", 3), wire::MakeName("LOCALHOST", 0));
    EXPECT_EQ(Bytes(request.begin(), request.begin() + 4), (Bytes{0x81, 0, 0, 68}));
    auto r = wire::DecodeSessionRequest(Bytes(request.begin() + 4, request.end()));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->calling, wire::MakeName("LOCALHOST", 0));
    EXPECT_FALSE(wire::DecodeSessionRequest(Bytes(request.begin() + 4, request.end() - 1)));
    EXPECT_EQ(wire::DecodeSessionHeader(Bytes{0, 1, 0xFF, 0xFF})->length, 0x1FFFFu);
    auto retarget = wire::DecodeSessionAnswer(Bytes{0x84, 0, 0, 6, 10, 0, 0, 1, 0, 139});
    EXPECT_TRUE(retarget && retarget->address == 0x0A000001u && retarget->port == 139);
    EXPECT_FALSE(wire::DecodeSessionAnswer(Bytes{0x83, 0, 0, 1}));
}

// Feeds the stream in pieces of the given size and collects whole messages.
std::vector<Bytes> Split(const Bytes& stream, std::size_t piece, std::size_t room,
                         wire::SessionStreamReader::Status* last = nullptr) {
    using Status = wire::SessionStreamReader::Status;
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
            if (step.status == Status::MessageEnd) {
                messages.push_back(std::exchange(current, {}));
            } else if (step.status == Status::BadFrame || step.status == Status::TooLarge) {
                return messages;
            } else if (step.consumed == 0 && step.status != Status::NeedMore) {
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
    EXPECT_TRUE(Split({0x82, 0, 0, 0}, 4, 100, &last).empty());
    EXPECT_EQ(last, wire::SessionStreamReader::Status::BadFrame);
}

TEST(DatagramCodec, DirectAndBroadcastDatagramsDecodeWithinTheirLength) {
    const Bytes data = {'h', 'i'};
    auto packet =
        wire::EncodeDatagram(wire::datagram_type::kDirectGroup, 0x4242, 0x0A000002, 138,
                             wire::MakeName("SENDER", 0), wire::MakeName("WORKGROUP", 0), data);
    ASSERT_EQ(packet.size(), 14u + 68 + 2);
    auto d = wire::DecodeDatagram(packet);
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->Whole());
    EXPECT_EQ(d->source_address, 0x0A000002u);
    EXPECT_EQ(d->destination, wire::MakeName("WORKGROUP", 0));
    EXPECT_EQ(Bytes(d->user_data.begin(), d->user_data.end()), data);

    Bytes trailing = Cat({packet, {0xEE}});
    EXPECT_EQ(wire::DecodeDatagram(trailing)->user_data.size(), 2u) << "bytes past DGM_LENGTH";
    ExpectEveryCutRefused(packet, [](const Bytes& b) { return wire::DecodeDatagram(b); });
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
    auto w = wire::DecodeMailslotWrite(smb);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->name, "\\MAILSLOT\\MESSNGR");
    EXPECT_EQ(w->mailslot_class, 2);
    EXPECT_EQ(Bytes(w->data.begin(), w->data.end()), data);
    EXPECT_TRUE(wire::DecodeMailslotWrite(wire::EncodeMailslotWrite("\\mailslot\\x", data, 2)))
        << "the prefix in any case";
    EXPECT_FALSE(wire::DecodeMailslotWrite(wire::EncodeMailslotWrite("\\PIPE\\X", data, 2)));
    ExpectEveryCutRefused(smb, [](const Bytes& b) { return wire::DecodeMailslotWrite(b); });

    auto changed = [&](std::initializer_list<std::pair<std::size_t, std::uint8_t>> edits,
                       std::size_t size = 0) {
        Bytes b = smb;
        b.resize(size ? size : b.size());
        for (auto [at, value] : edits) {
            b[at] = value;
        }
        return b;
    };
    EXPECT_FALSE(wire::DecodeMailslotWrite(changed({{57, 0xF0}}))) << "data past the end";
    EXPECT_FALSE(wire::DecodeMailslotWrite(changed({{57, 4}}))) << "data in the header";
    EXPECT_FALSE(wire::DecodeMailslotWrite(changed({{35, 0x40}}))) << "a fragment";
    EXPECT_FALSE(wire::DecodeMailslotWrite(changed({{61, 2}}))) << "not a write";
    EXPECT_FALSE(
        wire::DecodeMailslotWrite(changed({{67, 5}, {68, 0}, {57, 69}, {55, 0}, {35, 0}}, 69 + 5)))
        << "name without its zero";
}

}  // namespace
