#include <gtest/gtest.h>

#include <sys/socket.h>

#include <thread>

#include "tests/netbios/message_listener.h"
#include "tests/netbios/netbios_test_util.h"
#include "tests/support/network_namespace.h"

// The session service on loopback: listens, waiting requests, receives of every shape, the ends
// of a session, and real senders (smbclient, many raw peers at once).
using namespace nbtest;
using namespace std::chrono_literals;

namespace {

class NetbiosSessions : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!tolvane::test::EnterPrivateNetworkNamespace()) {
            GTEST_SKIP() << "needs a private network namespace (root)";
        }
    }
    void Start(nb::Stack::Config config = TestConfig()) {
        stack_ = std::make_unique<nb::Stack>(std::move(config));
        lana_ = LanaOf(*stack_, "lo");
        ASSERT_NE(lana_, 0xFF);
    }
    std::uint8_t Add(std::string_view name) {
        auto ncb = Ncb(nb::NCBADDNAME, lana_, name);
        return stack_->Submit(&ncb);
    }
    std::uint8_t Delete(std::string_view name) {
        auto ncb = Ncb(nb::NCBDELNAME, lana_, name);
        return stack_->Submit(&ncb);
    }
    // A session to name from a raw peer, accepted by a listen; returns its number.
    std::uint8_t Accept(std::string_view name, RawPeer& peer) {
        AsyncListen listen(*stack_, lana_, name);
        EXPECT_TRUE(peer.Connect(loopback_));
        auto answer = peer.Request(name);
        EXPECT_TRUE(answer && answer->first == wire::session_type::kPositive);
        EXPECT_TRUE(listen.Wait());
        EXPECT_EQ(listen.ncb.ncb_retcode, nb::NRC_GOODRET);
        EXPECT_EQ(listen.ncb.ncb_cmd_cplt, nb::NRC_GOODRET);
        return listen.ncb.ncb_lsn;
    }
    std::uint8_t Receive(std::uint8_t lsn, std::vector<std::uint8_t>& out, std::uint16_t room) {
        out.assign(room, 0);
        auto ncb = Ncb(nb::NCBRECV, lana_, "X");
        ncb.ncb_lsn = lsn;
        ncb.ncb_buffer = out.data();
        ncb.ncb_length = room;
        const std::uint8_t code = stack_->Submit(&ncb);
        out.resize(ncb.ncb_length);
        return code;
    }
    std::uint8_t Hangup(std::uint8_t lsn) {
        auto ncb = Ncb(nb::NCBHANGUP, lana_, "X");
        ncb.ncb_lsn = lsn;
        return stack_->Submit(&ncb);
    }

    std::unique_ptr<nb::Stack> stack_;
    std::uint8_t lana_ = 0xFF;
    const std::uint32_t loopback_ = Ipv4("127.0.0.1");
};

TEST_F(NetbiosSessions, RequestsForUnknownNamesAreRefusedAndWaitingOnesMeetTheNextListen) {
    auto config = TestConfig();
    config.listen_queue = 2;
    Start(config);
    ASSERT_EQ(Add("ERIN"), nb::NRC_GOODRET);

    RawPeer stranger;
    ASSERT_TRUE(stranger.Connect(loopback_));
    auto refused = stranger.Request("NOBODY");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->first, wire::session_type::kNegative);
    EXPECT_EQ(refused->second, wire::session_error::kCalledNotPresent);
    EXPECT_TRUE(stranger.WaitClosed());

    // No listen pending: two wait, the third finds the queue full. (The pauses only let the
    // stack read each request before the next one comes.)
    RawPeer first, second, third;
    ASSERT_TRUE(first.Connect(loopback_) && first.SendRequest("ERIN", 3, "FIRST"));
    // Bytes sent before the answer stay for the session.
    ASSERT_TRUE(first.SendMessage({0xAB}));
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(second.Connect(loopback_) && second.SendRequest("ERIN", 3, "SECOND"));
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(third.Connect(loopback_) && third.SendRequest("ERIN", 3, "THIRD"));
    auto full = third.ReadAnswer();
    ASSERT_TRUE(full);
    EXPECT_EQ(full->first, wire::session_type::kNegative);
    EXPECT_EQ(full->second, wire::session_error::kInsufficientResources);

    for (auto* peer : {&first, &second}) {
        AsyncListen pending(*stack_, lana_, "ERIN");
        ASSERT_TRUE(pending.Wait());
        const nb::NCB& listen = pending.ncb;
        ASSERT_EQ(listen.ncb_retcode, nb::NRC_GOODRET);
        auto answer = peer->ReadAnswer();
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->first, wire::session_type::kPositive);
        const auto expected = wire::MakeName(peer == &first ? "FIRST" : "SECOND", 0);
        EXPECT_EQ(std::memcmp(listen.ncb_callname, expected.data(), 16), 0) << "arrival order";
        if (peer == &first) {
            std::vector<std::uint8_t> out;
            EXPECT_EQ(Receive(listen.ncb_lsn, out, 10), nb::NRC_GOODRET);
            EXPECT_EQ(out, std::vector<std::uint8_t>{0xAB});
        }
        EXPECT_EQ(Hangup(listen.ncb_lsn), nb::NRC_GOODRET);
    }
}

TEST_F(NetbiosSessions, AnAdapterResetForOneSessionRefusesASecond) {
    Start();
    auto reset = Ncb(nb::NCBRESET, lana_);
    reset.ncb_callname[0] = 1;
    reset.ncb_callname[2] = 4;
    ASSERT_EQ(stack_->Submit(&reset), nb::NRC_GOODRET);
    ASSERT_EQ(Add("LIMIT"), nb::NRC_GOODRET);
    RawPeer first, second;
    const std::uint8_t lsn = Accept("LIMIT", first);
    AsyncListen listen(*stack_, lana_, "LIMIT");
    ASSERT_TRUE(second.Connect(loopback_));
    auto refused = second.Request("LIMIT");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->first, wire::session_type::kNegative);
    EXPECT_EQ(refused->second, wire::session_error::kInsufficientResources);
    EXPECT_FALSE(listen.Wait(50)) << "the listen stays for a caller there is room for";
    EXPECT_EQ(Hangup(lsn), nb::NRC_GOODRET);
    RawPeer third;
    ASSERT_TRUE(third.Connect(loopback_));
    auto accepted = third.Request("LIMIT");
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->first, wire::session_type::kPositive);
    ASSERT_TRUE(listen.Wait());
    Hangup(listen.ncb.ncb_lsn);
}

TEST_F(NetbiosSessions, WaitingRequestsExpireAndDeletedNamesRefuseThem) {
    auto config = TestConfig();
    config.listen_wait = 200ms;
    Start(config);
    ASSERT_EQ(Add("FRANK"), nb::NRC_GOODRET);
    RawPeer late;
    ASSERT_TRUE(late.Connect(loopback_) && late.SendRequest("FRANK"));
    auto expired = late.ReadAnswer();
    ASSERT_TRUE(expired);
    EXPECT_EQ(expired->second, wire::session_error::kInsufficientResources);

    RawPeer waiting;
    ASSERT_TRUE(waiting.Connect(loopback_) && waiting.SendRequest("FRANK"));
    std::this_thread::sleep_for(50ms);  // let it be queued
    EXPECT_EQ(Delete("FRANK"), nb::NRC_GOODRET);
    auto gone = waiting.ReadAnswer();
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->second, wire::session_error::kCalledNotPresent);
}

TEST_F(NetbiosSessions, ReceiveSkipsKeepAlivesAndHandsOutLongMessagesInParts) {
    Start();
    ASSERT_EQ(Add("GRACE"), nb::NRC_GOODRET);
    RawPeer peer;
    const std::uint8_t lsn = Accept("GRACE", peer);

    // Keep-alives (one even carrying bytes) around a message split over many writes.
    std::vector<std::uint8_t> message(3000);
    for (std::size_t i = 0; i < message.size(); ++i) {
        message[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_TRUE(peer.SendBytes({0x85, 0, 0, 0, 0x85, 0, 0, 2, 0xEE, 0xEE}));
    auto header = wire::EncodeSessionHeader(0, 3000);
    std::vector<std::uint8_t> stream(header.begin(), header.end());
    stream.insert(stream.end(), message.begin(), message.end());
    for (std::size_t at = 0; at < stream.size(); at += 700) {
        ASSERT_TRUE(peer.SendBytes(
            {stream.begin() + static_cast<std::ptrdiff_t>(at),
             stream.begin() + static_cast<std::ptrdiff_t>(std::min(at + 700, stream.size()))}));
    }
    ASSERT_TRUE(peer.SendMessage({}));  // an empty message is a message
    ASSERT_TRUE(peer.SendMessage({1, 2}));

    std::vector<std::uint8_t> part, all;
    EXPECT_EQ(Receive(lsn, part, 1024), nb::NRC_INCOMP);
    EXPECT_EQ(part.size(), 1024u);
    all = part;
    EXPECT_EQ(Receive(lsn, part, 1024), nb::NRC_INCOMP);
    all.insert(all.end(), part.begin(), part.end());
    EXPECT_EQ(Receive(lsn, part, 1024), nb::NRC_GOODRET) << "the rest of the same message";
    all.insert(all.end(), part.begin(), part.end());
    EXPECT_EQ(all, message);
    EXPECT_EQ(Receive(lsn, part, 1024), nb::NRC_GOODRET);
    EXPECT_TRUE(part.empty());
    EXPECT_EQ(Receive(lsn, part, 2), nb::NRC_GOODRET) << "exactly fits";
    EXPECT_EQ(part, (std::vector<std::uint8_t>{1, 2}));

    // The peer sends a last message and closes: the message is not lost, then the end shows.
    ASSERT_TRUE(peer.SendMessage({7}));
    peer.Close();
    EXPECT_EQ(Receive(lsn, part, 1024), nb::NRC_GOODRET);
    EXPECT_EQ(part, std::vector<std::uint8_t>{7});
    EXPECT_EQ(Receive(lsn, part, 1024), nb::NRC_SCLOSED);
    EXPECT_EQ(Hangup(lsn), nb::NRC_GOODRET);
    EXPECT_EQ(Receive(lsn, part, 1024), nb::NRC_SNUMOUT);
}

TEST_F(NetbiosSessions, OversizedSilentOrMalformedPeersEndTheirSession) {
    auto config = TestConfig();
    config.max_session_message = 2000;
    config.session_idle = 300ms;
    Start(config);
    ASSERT_EQ(Add("HEIDI"), nb::NRC_GOODRET);
    std::vector<std::uint8_t> out;

    RawPeer big;
    std::uint8_t lsn = Accept("HEIDI", big);
    ASSERT_TRUE(big.SendMessage(std::vector<std::uint8_t>(2001, 1)));
    EXPECT_EQ(Receive(lsn, out, 1024), nb::NRC_SABORT);
    EXPECT_TRUE(big.WaitClosed());
    EXPECT_EQ(Receive(lsn, out, 1024), nb::NRC_SABORT) << "stays ended until hung up";
    Hangup(lsn);

    RawPeer silent;
    lsn = Accept("HEIDI", silent);
    ASSERT_TRUE(silent.SendBytes({0x85, 0, 0, 0}));  // keep-alives do not count as talking
    EXPECT_EQ(Receive(lsn, out, 1024), nb::NRC_SABORT);
    Hangup(lsn);

    RawPeer truncated;
    lsn = Accept("HEIDI", truncated);
    ASSERT_TRUE(truncated.SendBytes({0, 0, 0, 10, 1, 2, 3}));
    truncated.Close();
    EXPECT_EQ(Receive(lsn, out, 1024), nb::NRC_SABORT) << "closed inside a message";
    Hangup(lsn);

    RawPeer odd;
    lsn = Accept("HEIDI", odd);
    ASSERT_TRUE(odd.SendBytes({0x81, 0, 0, 0}));  // a second session request
    EXPECT_EQ(Receive(lsn, out, 1024), nb::NRC_SABORT);
    Hangup(lsn);
}

TEST_F(NetbiosSessions, DeletingTheNameOrHangingUpWakesABlockedReceive) {
    Start();
    ASSERT_EQ(Add("IVAN"), nb::NRC_GOODRET);
    RawPeer a, b;
    const std::uint8_t first = Accept("IVAN", a);
    const std::uint8_t second = Accept("IVAN", b);

    std::uint8_t by_hangup = 0xEE, by_delete = 0xEE;
    std::thread r1([&] {
        std::vector<std::uint8_t> out;
        by_hangup = Receive(first, out, 100);
    });
    std::thread r2([&] {
        std::vector<std::uint8_t> out;
        by_delete = Receive(second, out, 100);
    });
    std::this_thread::sleep_for(50ms);  // let both block
    EXPECT_EQ(Hangup(first), nb::NRC_GOODRET);
    r1.join();
    EXPECT_EQ(by_hangup, nb::NRC_SCLOSED);
    EXPECT_EQ(Delete("IVAN"), nb::NRC_GOODRET);
    r2.join();
    EXPECT_EQ(by_delete, nb::NRC_SABORT);
    EXPECT_TRUE(a.WaitClosed());
    EXPECT_TRUE(b.WaitClosed());
    Hangup(second);
}

TEST_F(NetbiosSessions, CallConnectsTwoNamesOfThisNode) {
    Start();
    ASSERT_EQ(Add("JUDY"), nb::NRC_GOODRET);
    ASSERT_EQ(Add("KARL"), nb::NRC_GOODRET);
    AsyncListen pending(*stack_, lana_, "KARL");
    auto call = Ncb(nb::NCBCALL, lana_, "JUDY");
    SetCallName(call, "KARL", 3);
    ASSERT_EQ(stack_->Submit(&call), nb::NRC_GOODRET);
    ASSERT_TRUE(pending.Wait());
    const nb::NCB& listen = pending.ncb;
    ASSERT_EQ(listen.ncb_retcode, nb::NRC_GOODRET);
    EXPECT_EQ(std::memcmp(listen.ncb_callname, wire::MakeName("JUDY", 3).data(), 16), 0);

    std::uint8_t text[] = {'h', 'i'};
    auto send = Ncb(nb::NCBSEND, lana_, "JUDY");
    send.ncb_lsn = call.ncb_lsn;
    send.ncb_buffer = text;
    send.ncb_length = 2;
    ASSERT_EQ(stack_->Submit(&send), nb::NRC_GOODRET);
    std::vector<std::uint8_t> out;
    EXPECT_EQ(Receive(listen.ncb_lsn, out, 10), nb::NRC_GOODRET);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{'h', 'i'}));

    auto nobody = Ncb(nb::NCBCALL, lana_, "JUDY");
    SetCallName(nobody, "NOBODY", 3);
    EXPECT_EQ(stack_->Submit(&nobody), nb::NRC_NOCALL);
    Hangup(call.ncb_lsn);
    Hangup(listen.ncb_lsn);
}

TEST_F(NetbiosSessions, SmbclientMessageArrivesUnitByUnit) {
    if (!tolvane::test::CommandExists("smbclient")) {
        GTEST_SKIP() << "smbclient not installed";
    }
    Start();
    MessageListener listener(*stack_, lana_, "LISTENER");
    ASSERT_EQ(listener.Start(), nb::NRC_GOODRET);
    std::string text;
    for (int i = 0; i < 30; ++i) {
        text += "line " + std::to_string(i) + " of the message\n";
    }
    auto r = tolvane::test::RunCommandWithInput(
        {"smbclient", "-s", "/dev/null", "-N", "-M", "listener", "-I", "127.0.0.1", "-U", "tester"},
        text);
    EXPECT_EQ(r.exit_code, 0) << r.output;
    ASSERT_TRUE(listener.WaitForSessions(1));
    const auto s = listener.Sessions().at(0);
    ASSERT_GE(s.units.size(), 3u);
    EXPECT_EQ(s.units.front()[4], 0xD5);
    EXPECT_EQ(s.units.back()[4], 0xD6);
    std::string received;
    for (std::size_t i = 1; i + 1 < s.units.size(); ++i) {
        const auto& u = s.units[i];
        ASSERT_EQ(u[4], 0xD7);
        // Whole unit: word count, byte count and the text block's own length agree.
        const std::size_t words = u[32];
        const std::size_t bytes = u[33 + 2 * words] | u[34 + 2 * words] << 8;
        ASSERT_EQ(u.size(), 35 + 2 * words + bytes);
        const std::size_t block = 35 + 2 * words;
        ASSERT_EQ(u[block], 0x01);
        const std::size_t len = u[block + 1] | u[block + 2] << 8;
        ASSERT_EQ(bytes, len + 3);
        received.append(u.begin() + static_cast<std::ptrdiff_t>(block + 3), u.end());
    }
    std::string expected;
    for (char c : text) {
        expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    EXPECT_EQ(received, expected);
}

TEST_F(NetbiosSessions, TenSendersAtOnceAreServedOneAfterAnother) {
    Start();
    MessageListener listener(*stack_, lana_, "BUSY");
    ASSERT_EQ(listener.Start(), nb::NRC_GOODRET);
    constexpr int kSenders = 10;
    std::atomic<int> replied{0};
    std::vector<std::thread> senders;
    for (int i = 0; i < kSenders; ++i) {
        senders.emplace_back([&, i] {
            RawPeer peer;
            if (!peer.Connect(loopback_)) {
                return;
            }
            auto answer = peer.Request("BUSY", 3, "S" + std::to_string(i));
            if (!answer || answer->first != wire::session_type::kPositive) {
                return;
            }
            // A single-block message unit with a zeroed header.
            std::vector<std::uint8_t> unit(32, 0);
            unit[0] = 0xFF, unit[1] = 'S', unit[2] = 'M', unit[3] = 'B', unit[4] = 0xD0;
            unit.insert(unit.end(), {0, 3, 0, 4, 'x', 0, 4});
            if (peer.SendMessage(unit) && peer.ReadMessage()) {
                ++replied;
            }
        });
    }
    for (auto& t : senders) {
        t.join();
    }
    EXPECT_EQ(replied.load(), kSenders);
    EXPECT_TRUE(listener.WaitForSessions(kSenders));
}

// Senders that come back as soon as they have their reply usually find the listener between two
// listens: their requests wait, are taken by the next listen, and the descriptor numbers of
// finished sessions are handed to new connections at once. None may be lost on the way.
TEST_F(NetbiosSessions, ManySessionsInARowAreAllServed) {
    Start();
    MessageListener listener(*stack_, lana_, "STEADY");
    ASSERT_EQ(listener.Start(), nb::NRC_GOODRET);
    std::vector<std::uint8_t> unit(32, 0);
    unit[0] = 0xFF, unit[1] = 'S', unit[2] = 'M', unit[3] = 'B', unit[4] = 0xD0;
    unit.insert(unit.end(), {0, 3, 0, 4, 'x', 0, 4});
    constexpr int kSessions = 1000;
    int served = 0;
    for (int i = 0; i < kSessions; ++i) {
        RawPeer peer;
        if (!peer.Connect(loopback_)) {
            break;
        }
        auto answer = peer.Request("STEADY");
        if (!answer || answer->first != wire::session_type::kPositive || !peer.SendMessage(unit) ||
            !peer.ReadMessage()) {
            break;
        }
        ++served;
    }
    EXPECT_EQ(served, kSessions);
}

}  // namespace
