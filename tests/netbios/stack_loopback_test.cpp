#include <gtest/gtest.h>

#include <thread>

#include "platform/sync/event.h"
#include "tests/netbios/netbios_test_util.h"
#include "tests/support/network_namespace.h"

using namespace nbtest;
using namespace std::chrono_literals;

namespace {

class NetbiosLoopback : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!tolvane::test::EnterPrivateNetworkNamespace()) {
            GTEST_SKIP() << "needs a private network namespace (root)";
        }
        stack_ = std::make_unique<nb::Stack>(Config());
        lana_ = LanaOf(*stack_, "lo");
        ASSERT_NE(lana_, 0xFF);
    }
    virtual nb::Stack::Config Config() { return TestConfig(); }

    std::uint8_t Add(std::string_view name) {
        auto ncb = Ncb(nb::NCBADDNAME, lana_, name);
        return stack_->Submit(&ncb);
    }
    std::uint8_t Delete(std::string_view name) {
        auto ncb = Ncb(nb::NCBDELNAME, lana_, name);
        return stack_->Submit(&ncb);
    }

    std::unique_ptr<nb::Stack> stack_;
    std::uint8_t lana_ = 0xFF;
    const std::uint32_t loopback_ = Ipv4("127.0.0.1");
};

TEST_F(NetbiosLoopback, ServesOneSessionThroughTheControlBlocks) {
    ASSERT_EQ(Add("ALICE"), nb::NRC_GOODRET);
    AsyncListen listen(*stack_, lana_, "ALICE");
    ASSERT_EQ(listen.submitted, nb::NRC_PENDING);

    RawPeer peer;
    ASSERT_TRUE(peer.Connect(loopback_));
    auto answer = peer.Request("ALICE", 0x03, "SENDER");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->first, wire::session_type::kPositive);
    ASSERT_TRUE(listen.Wait());
    ASSERT_EQ(listen.ncb.ncb_retcode, nb::NRC_GOODRET);
    EXPECT_EQ(listen.ncb.ncb_cmd_cplt, nb::NRC_GOODRET);
    EXPECT_NE(listen.ncb.ncb_lsn, 0);
    EXPECT_EQ(std::memcmp(listen.ncb.ncb_callname, wire::MakeName("SENDER", 0).data(), 16), 0);

    ASSERT_TRUE(peer.SendMessage({1, 2, 3, 4, 5}));
    std::uint8_t buffer[1024];
    auto recv = Ncb(nb::NCBRECV, lana_, "ALICE");
    recv.ncb_lsn = listen.ncb.ncb_lsn;
    recv.ncb_buffer = buffer;
    recv.ncb_length = sizeof buffer;
    ASSERT_EQ(stack_->Submit(&recv), nb::NRC_GOODRET);
    ASSERT_EQ(recv.ncb_length, 5);
    EXPECT_EQ(buffer[4], 5);

    std::uint8_t reply[] = {9, 8, 7};
    auto send = Ncb(nb::NCBSEND, lana_, "ALICE");
    send.ncb_lsn = listen.ncb.ncb_lsn;
    send.ncb_buffer = reply;
    send.ncb_length = sizeof reply;
    ASSERT_EQ(stack_->Submit(&send), nb::NRC_GOODRET);
    auto got = peer.ReadMessage();
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, (std::vector<std::uint8_t>{9, 8, 7}));

    auto hangup = Ncb(nb::NCBHANGUP, lana_, "ALICE");
    hangup.ncb_lsn = listen.ncb.ncb_lsn;
    EXPECT_EQ(stack_->Submit(&hangup), nb::NRC_GOODRET);
    EXPECT_TRUE(peer.WaitClosed());
    EXPECT_EQ(stack_->Submit(&hangup), nb::NRC_SNUMOUT);
    EXPECT_EQ(Delete("ALICE"), nb::NRC_GOODRET);
}

}  // namespace

namespace {

TEST_F(NetbiosLoopback, EnumeratesResetsAndDeletingANameEndsItsListen) {
    std::uint8_t list[256] = {};
    auto e = Ncb(nb::NCBENUM, 0);
    e.ncb_buffer = list;
    e.ncb_length = sizeof list;
    ASSERT_EQ(stack_->Submit(&e), nb::NRC_GOODRET);
    ASSERT_EQ(list[0], 1);
    EXPECT_EQ(list[1], lana_);

    auto reset = Ncb(nb::NCBRESET, lana_);
    reset.ncb_callname[0] = 20;
    reset.ncb_callname[2] = 30;
    ASSERT_EQ(stack_->Submit(&reset), nb::NRC_GOODRET);

    ASSERT_EQ(Add("BOB"), nb::NRC_GOODRET);
    EXPECT_EQ(Add("BOB"), nb::NRC_DUPNAME);
    AsyncListen listen(*stack_, lana_, "BOB");
    ASSERT_EQ(listen.submitted, nb::NRC_PENDING);
    EXPECT_FALSE(listen.Wait(50));
    EXPECT_EQ(Delete("BOB"), nb::NRC_GOODRET);
    ASSERT_TRUE(listen.Wait());
    EXPECT_EQ(listen.ncb.ncb_retcode, nb::NRC_NAMERR);
    EXPECT_EQ(Delete("BOB"), nb::NRC_NOWILD);

    // A listen without ASYNCH blocks its caller until it ends.
    ASSERT_EQ(Add("BOB"), nb::NRC_GOODRET);
    auto sync = Ncb(nb::NCBLISTEN, lana_, "BOB");
    sync.ncb_callname[0] = '*';
    std::uint8_t result = 0;
    std::thread listener([&] { result = stack_->Submit(&sync); });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Delete("BOB"), nb::NRC_GOODRET);
    listener.join();
    EXPECT_EQ(result, nb::NRC_NAMERR);
}

}  // namespace
