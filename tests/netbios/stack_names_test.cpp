#include <gtest/gtest.h>

#include "platform/netbios/wire/name_service.h"
#include "tests/netbios/netbios_test_util.h"

// The name service as other nodes see it (answers, defence, node status), adapter
// commands, and ports that cannot be bound.
using namespace nbtest;
using namespace std::chrono_literals;

namespace {

class NetbiosNames : public LoopbackStack {
  protected:
    std::optional<wire::NsPacket> Ask(const Bytes& request) {
        auto answer = udp_->SendTo(loopback_, 137, request) ? udp_->Receive(500) : std::nullopt;
        return answer ? wire::DecodeNsPacket(*answer) : std::nullopt;
    }
};

TEST_F(NetbiosNames, HeldNamesAreAnsweredAndDefendedOthersAreNot) {
    Start();
    ASSERT_EQ(Submit(nb::NCBADDNAME, "LENA"), nb::NRC_GOODRET);
    const auto lena = wire::MakeName("LENA", 3);

    // Garbage first: the service goes on answering.
    udp_->SendTo(loopback_, 137, {0x12, 0x34, 0x00});
    udp_->SendTo(loopback_, 137, {0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xC0, 0x0C});

    // The positive answer is checked from outside (hostile_names.py, receive_names.py).
    ASSERT_TRUE(Ask(wire::EncodeQueryRequest(0x1111, lena, false)));
    EXPECT_FALSE(Ask(wire::EncodeQueryRequest(0x2222, wire::MakeName("LENA", 0), false)))
        << "another suffix is another name";

    auto defended = Ask(wire::EncodeRegistrationRequest(0x3333, lena, Ipv4("10.9.9.9"), false));
    ASSERT_TRUE(defended);
    EXPECT_EQ(defended->flags, 0xAD86);
    ASSERT_EQ(defended->answers.size(), 1u);
    EXPECT_EQ(wire::DecodeNbEntries(defended->answers[0].rdata).at(0).address, loopback_);
    EXPECT_FALSE(Ask(wire::EncodeRegistrationRequest(0x3334, wire::MakeName("OTHER", 3),
                                                     Ipv4("10.9.9.9"), false)));

    ASSERT_EQ(Submit(nb::NCBADDNAME, "MARK"), nb::NRC_GOODRET);
    auto status = Ask(wire::EncodeNodeStatusRequest(0x4444, wire::WildcardName()));
    ASSERT_TRUE(status);
    ASSERT_EQ(status->answers.size(), 1u);
    auto names = wire::DecodeNodeStatus(status->answers[0].rdata);
    ASSERT_TRUE(names);
    ASSERT_EQ(names->names.size(), 2u);
    EXPECT_EQ(names->names[0].name, lena);
    EXPECT_EQ(names->names[1].name, wire::MakeName("MARK", 3));
    EXPECT_EQ(names->names[0].flags, wire::kActiveFlag);
}

TEST_F(NetbiosNames, AdapterCommandsAndInvalidNames) {
    Start();
    std::uint8_t list[256] = {};
    auto e = Ncb(nb::NCBENUM, 0);
    e.ncb_buffer = list;
    e.ncb_length = sizeof list;
    ASSERT_EQ(stack_->Submit(&e), nb::NRC_GOODRET);
    EXPECT_EQ(list[0], 1);
    EXPECT_EQ(list[1], lana_);

    auto wildcard = Ncb(nb::NCBADDNAME, lana_, "*");
    EXPECT_EQ(stack_->Submit(&wildcard), nb::NRC_NOWILD);
    auto empty = Ncb(nb::NCBADDNAME, lana_);
    empty.ncb_name[0] = 0;
    EXPECT_EQ(stack_->Submit(&empty), nb::NRC_ILLNN);
    auto no_adapter = Ncb(nb::NCBADDNAME, 200, "OLGA");
    EXPECT_EQ(stack_->Submit(&no_adapter), nb::NRC_BRIDGE);
    EXPECT_EQ(Submit(nb::NCBLISTEN, "NOTHELD"), nb::NRC_NOWILD);
    EXPECT_EQ(Submit(0x7E, {}), nb::NRC_ILLCMD);

    // A reset with room for two names drops every name.
    auto reset = Ncb(nb::NCBRESET, lana_);
    reset.ncb_callname[0] = 1;
    reset.ncb_callname[2] = 2;
    ASSERT_EQ(stack_->Submit(&reset), nb::NRC_GOODRET);
    EXPECT_EQ(Submit(nb::NCBADDNAME, "P1"), nb::NRC_GOODRET);
    EXPECT_EQ(Submit(nb::NCBADDNAME, "P1"), nb::NRC_DUPNAME);
    EXPECT_EQ(Submit(nb::NCBADDNAME, "P2"), nb::NRC_GOODRET);
    EXPECT_EQ(Submit(nb::NCBADDNAME, "P3"), nb::NRC_NAMTFUL);
    ASSERT_EQ(stack_->Submit(&reset), nb::NRC_GOODRET);
    EXPECT_EQ(Submit(nb::NCBADDNAME, "P3"), nb::NRC_GOODRET);

    // Deleting a name ends its listens, asynchronous or blocking (a hang would fail the test).
    AsyncListen listen(*stack_, lana_, "P3");
    std::thread blocked([&] { EXPECT_NE(Submit(nb::NCBLISTEN, "P3"), nb::NRC_GOODRET); });
    EXPECT_FALSE(listen.Wait(50));
    EXPECT_EQ(Submit(nb::NCBDELNAME, "P3"), nb::NRC_GOODRET);
    ASSERT_TRUE(listen.Wait());
    blocked.join();
    EXPECT_EQ(listen.ncb.ncb_retcode, nb::NRC_NAMERR);
    EXPECT_EQ(Submit(nb::NCBDELNAME, "P3"), nb::NRC_NOWILD);
}

TEST_F(NetbiosNames, PortsHeldByOthersAreReportedAndTakenOnceFree) {
    // Another program holds the name service port.
    std::optional<RawUdp> blocker(std::in_place, 137);
    ASSERT_TRUE(blocker->bound());

    std::mutex m;
    std::vector<std::vector<nb::BindProblem>> reports;
    auto config = TestConfig();
    config.rebind_interval = 60s;  // only the command's own attempt may recover
    config.on_bind_problems = [&](const std::vector<nb::BindProblem>& p) {
        std::lock_guard lock(m);
        reports.push_back(p);
    };
    Start(config);
    const auto problems = stack_->BindProblems();
    ASSERT_EQ(problems, (std::vector<nb::BindProblem>{{137, EADDRINUSE}}));
    EXPECT_EQ(nb::DescribeBindProblem(problems[0]),
              "port 137: in use by test_netbios_st (pid " + std::to_string(::getpid()) + ")");
    EXPECT_NE(Submit(nb::NCBADDNAME, "QUINN"), nb::NRC_GOODRET);
    blocker.reset();
    EXPECT_EQ(Submit(nb::NCBADDNAME, "QUINN"), nb::NRC_GOODRET) << "the add tries the port again";
    EXPECT_TRUE(stack_->BindProblems().empty());
    stack_.reset();  // the last report comes from the stack's thread
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), problems);
    EXPECT_TRUE(reports.back().empty());
}

}  // namespace
