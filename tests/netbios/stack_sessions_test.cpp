#include <gtest/gtest.h>

#include "tests/netbios/netbios_test_util.h"

// The session service on loopback: listens, waiting requests, receives of every shape, and the
// ends of a session.
using namespace nbtest;
using namespace std::chrono_literals;

namespace {

class NetbiosSessions : public LoopbackStack {
  protected:
    // A session to name from a raw peer, accepted by a listen; returns its number.
    std::uint8_t Accept(std::string_view name, RawPeer& peer) {
        AsyncListen listen(*stack_, lana_, name);
        EXPECT_TRUE(peer.Session(loopback_, name));
        EXPECT_TRUE(listen.Wait());
        EXPECT_EQ(listen.ncb.ncb_retcode, nb::NRC_GOODRET);
        EXPECT_EQ(listen.ncb.ncb_cmd_cplt, nb::NRC_GOODRET);
        return listen.ncb.ncb_lsn;
    }
    std::uint8_t Receive(std::uint8_t lsn, Bytes& out, std::uint16_t room = 1024) {
        out.assign(room, 0);
        return OnSession(*stack_, nb::NCBRECV, lana_, lsn, &out);
    }
    std::uint8_t Hangup(std::uint8_t lsn) { return OnSession(*stack_, nb::NCBHANGUP, lana_, lsn); }
    static std::uint8_t Refusal(RawPeer& peer) {
        auto answer = peer.ReadAnswer();
        return answer && answer->first == wire::session_type::kNegative ? answer->second : 0;
    }
};

TEST_F(NetbiosSessions, RequestsForUnknownNamesAreRefusedAndWaitingOnesMeetTheNextListen) {
    auto config = TestConfig();
    config.listen_queue = 2;
    Start(config);
    ASSERT_EQ(Submit(nb::NCBADDNAME, "ERIN"), nb::NRC_GOODRET);

    RawPeer stranger;
    ASSERT_TRUE(stranger.Connect(loopback_) && stranger.SendRequest("NOBODY"));
    EXPECT_EQ(Refusal(stranger), wire::session_error::kCalledNotPresent);
    EXPECT_TRUE(stranger.WaitClosed());

    // No listen pending: two wait, the third finds the queue full. (The pauses only let the
    // stack read each request before the next one comes.)
    RawPeer first, second, third;
    ASSERT_TRUE(first.Connect(loopback_) && first.SendRequest("ERIN", 3, "FIRST"));
    ASSERT_TRUE(first.SendMessage({0xAB}));  // sent before the answer: kept for the session
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(second.Connect(loopback_) && second.SendRequest("ERIN", 3, "SECOND"));
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(third.Connect(loopback_) && third.SendRequest("ERIN", 3, "THIRD"));
    EXPECT_EQ(Refusal(third), wire::session_error::kInsufficientResources);

    for (auto* peer : {&first, &second}) {
        AsyncListen pending(*stack_, lana_, "ERIN");
        ASSERT_TRUE(pending.Wait());
        ASSERT_EQ(pending.ncb.ncb_retcode, nb::NRC_GOODRET);
        auto answer = peer->ReadAnswer();
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->first, wire::session_type::kPositive);
        const auto expected = wire::MakeName(peer == &first ? "FIRST" : "SECOND", 0);
        EXPECT_EQ(std::memcmp(pending.ncb.ncb_callname, expected.data(), 16), 0) << "in order";
        Bytes out;
        if (peer == &first) {
            EXPECT_EQ(Receive(pending.ncb.ncb_lsn, out, 10), nb::NRC_GOODRET);
            EXPECT_EQ(out, Bytes{0xAB});
        }
        EXPECT_EQ(Hangup(pending.ncb.ncb_lsn), nb::NRC_GOODRET);
    }
}

TEST_F(NetbiosSessions, AnAdapterResetForOneSessionRefusesASecond) {
    Start();
    auto reset = Ncb(nb::NCBRESET, lana_);
    reset.ncb_callname[0] = 1;
    reset.ncb_callname[2] = 4;
    ASSERT_EQ(stack_->Submit(&reset), nb::NRC_GOODRET);
    ASSERT_EQ(Submit(nb::NCBADDNAME, "LIMIT"), nb::NRC_GOODRET);
    RawPeer first, second, third;
    const std::uint8_t lsn = Accept("LIMIT", first);
    AsyncListen listen(*stack_, lana_, "LIMIT");
    ASSERT_TRUE(second.Connect(loopback_) && second.SendRequest("LIMIT"));
    EXPECT_EQ(Refusal(second), wire::session_error::kInsufficientResources);
    EXPECT_FALSE(listen.Wait(50)) << "the listen stays for a caller there is room for";
    EXPECT_EQ(Hangup(lsn), nb::NRC_GOODRET);
    EXPECT_TRUE(third.Session(loopback_, "LIMIT"));
    ASSERT_TRUE(listen.Wait());
    Hangup(listen.ncb.ncb_lsn);
}

TEST_F(NetbiosSessions, WaitingRequestsExpireAndDeletedNamesRefuseThem) {
    auto config = TestConfig();
    config.listen_wait = 200ms;
    Start(config);
    ASSERT_EQ(Submit(nb::NCBADDNAME, "FRANK"), nb::NRC_GOODRET);
    RawPeer late, waiting;
    ASSERT_TRUE(late.Connect(loopback_) && late.SendRequest("FRANK"));
    EXPECT_EQ(Refusal(late), wire::session_error::kInsufficientResources);

    ASSERT_TRUE(waiting.Connect(loopback_) && waiting.SendRequest("FRANK"));
    std::this_thread::sleep_for(50ms);  // let it be queued
    EXPECT_EQ(Submit(nb::NCBDELNAME, "FRANK"), nb::NRC_GOODRET);
    EXPECT_EQ(Refusal(waiting), wire::session_error::kCalledNotPresent);
}

TEST_F(NetbiosSessions, ReceiveSkipsKeepAlivesAndHandsOutLongMessagesInParts) {
    Start();
    ASSERT_EQ(Submit(nb::NCBADDNAME, "GRACE"), nb::NRC_GOODRET);
    RawPeer peer;
    const std::uint8_t lsn = Accept("GRACE", peer);

    // Keep-alives (one even carrying bytes) around a message split over many writes.
    Bytes message(3000);
    for (std::size_t i = 0; i < message.size(); ++i) {
        message[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_TRUE(peer.SendBytes({0x85, 0, 0, 0, 0x85, 0, 0, 2, 0xEE, 0xEE}));
    Bytes stream = SessionHeader(0, 3000);
    stream.insert(stream.end(), message.begin(), message.end());
    for (std::size_t at = 0; at < stream.size(); at += 700) {
        const auto from = stream.begin() + static_cast<std::ptrdiff_t>(at);
        ASSERT_TRUE(
            peer.SendBytes({from, from + std::min<std::ptrdiff_t>(700, stream.end() - from)}));
    }
    ASSERT_TRUE(peer.SendMessage({}));  // an empty message is a message
    ASSERT_TRUE(peer.SendMessage({1, 2}));

    Bytes part, all;
    for (std::uint8_t expected : {nb::NRC_INCOMP, nb::NRC_INCOMP, nb::NRC_GOODRET}) {
        EXPECT_EQ(Receive(lsn, part), expected);
        all.insert(all.end(), part.begin(), part.end());
    }
    EXPECT_EQ(all, message);
    EXPECT_EQ(Receive(lsn, part), nb::NRC_GOODRET);
    EXPECT_TRUE(part.empty());
    EXPECT_EQ(Receive(lsn, part, 2), nb::NRC_GOODRET) << "exactly fits";
    EXPECT_EQ(part, (Bytes{1, 2}));

    // The peer sends a last message and closes: the message is not lost, then the end shows.
    ASSERT_TRUE(peer.SendMessage({7}));
    peer.Close();
    EXPECT_EQ(Receive(lsn, part), nb::NRC_GOODRET);
    EXPECT_EQ(part, Bytes{7});
    EXPECT_EQ(Receive(lsn, part), nb::NRC_SCLOSED);
    EXPECT_EQ(Hangup(lsn), nb::NRC_GOODRET);
    EXPECT_EQ(Receive(lsn, part), nb::NRC_SNUMOUT);
}

TEST_F(NetbiosSessions, OversizedSilentOrMalformedPeersEndTheirSession) {
    auto config = TestConfig();
    config.max_session_message = 2000;
    config.session_idle = 300ms;
    Start(config);
    ASSERT_EQ(Submit(nb::NCBADDNAME, "HEIDI"), nb::NRC_GOODRET);
    const Bytes oversized = SessionHeader(0, 2001);
    const Bytes keep_alive = {0x85, 0, 0, 0};  // does not count as talking
    const Bytes cut = {0, 0, 0, 10, 1, 2, 3};  // then closed inside the message
    const Bytes second_request = {0x81, 0, 0, 0};
    for (const Bytes* bytes : {&oversized, &keep_alive, &cut, &second_request}) {
        RawPeer peer;
        const std::uint8_t lsn = Accept("HEIDI", peer);
        ASSERT_TRUE(peer.SendBytes(*bytes));
        if (bytes == &cut) {
            peer.Close();
        }
        Bytes out;
        EXPECT_EQ(Receive(lsn, out), nb::NRC_SABORT);
        EXPECT_EQ(Receive(lsn, out), nb::NRC_SABORT) << "stays ended until hung up";
        if (bytes == &oversized) {
            EXPECT_TRUE(peer.WaitClosed());
        }
        Hangup(lsn);
    }
}

TEST_F(NetbiosSessions, DeletingTheNameOrHangingUpWakesABlockedReceive) {
    Start();
    ASSERT_EQ(Submit(nb::NCBADDNAME, "IVAN"), nb::NRC_GOODRET);
    RawPeer a, b;
    const std::uint8_t first = Accept("IVAN", a);
    const std::uint8_t second = Accept("IVAN", b);

    std::uint8_t by_hangup = 0xEE, by_delete = 0xEE;
    std::thread r1([&] {
        Bytes out;
        by_hangup = Receive(first, out, 100);
    });
    std::thread r2([&] {
        Bytes out;
        by_delete = Receive(second, out, 100);
    });
    std::this_thread::sleep_for(50ms);  // let both block
    EXPECT_EQ(Hangup(first), nb::NRC_GOODRET);
    r1.join();
    EXPECT_EQ(by_hangup, nb::NRC_SCLOSED);
    EXPECT_EQ(Submit(nb::NCBDELNAME, "IVAN"), nb::NRC_GOODRET);
    r2.join();
    EXPECT_EQ(by_delete, nb::NRC_SABORT);
    EXPECT_TRUE(a.WaitClosed());
    EXPECT_TRUE(b.WaitClosed());
    Hangup(second);
}

}  // namespace
