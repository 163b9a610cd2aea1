#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <thread>

#include "platform/netbios/wire/name_service.h"
#include "platform/sync/event.h"
#include "tests/netbios/netbios_test_util.h"
#include "tests/support/network_namespace.h"

// The name service as other nodes see it (answers, defence, node status), and ports
// that cannot be bound.
using namespace nbtest;
using namespace std::chrono_literals;

namespace {

class NetbiosNames : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!tolvane::test::EnterPrivateNetworkNamespace()) {
            GTEST_SKIP() << "needs a private network namespace (root)";
        }
        udp_.emplace();
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
    std::optional<wire::NsPacket> Ask(const std::vector<std::uint8_t>& request) {
        if (!udp_->SendTo(loopback_, 137, request)) {
            return std::nullopt;
        }
        auto answer = udp_->Receive(500);
        return answer ? wire::DecodeNsPacket(*answer) : std::nullopt;
    }

    std::unique_ptr<nb::Stack> stack_;
    std::uint8_t lana_ = 0xFF;
    std::optional<RawUdp> udp_;  // made once inside the namespace
    const std::uint32_t loopback_ = Ipv4("127.0.0.1");
};

TEST_F(NetbiosNames, HeldNamesAreAnsweredAndDefendedOthersAreNot) {
    Start();
    ASSERT_EQ(Add("LENA"), nb::NRC_GOODRET);
    const auto lena = wire::MakeName("LENA", 3);

    // Garbage first: the service goes on answering.
    udp_->SendTo(loopback_, 137, {0x12, 0x34, 0x00});
    udp_->SendTo(loopback_, 137, {0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xC0, 0x0C});

    auto positive = Ask(wire::EncodeQueryRequest(0x1111, lena, false));
    ASSERT_TRUE(positive);
    EXPECT_EQ(positive->trn_id, 0x1111);
    EXPECT_EQ(positive->flags, 0x8500);
    ASSERT_EQ(positive->answers.size(), 1u);
    EXPECT_EQ(positive->answers[0].name, lena);
    auto entries = wire::DecodeNbEntries(positive->answers[0].rdata);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].address, loopback_);

    EXPECT_FALSE(Ask(wire::EncodeQueryRequest(0x2222, wire::MakeName("LENA", 0), false)))
        << "another suffix is another name";

    auto defended = Ask(wire::EncodeRegistrationRequest(0x3333, lena, Ipv4("10.9.9.9"), false));
    ASSERT_TRUE(defended);
    EXPECT_EQ(defended->flags, 0xAD86);
    EXPECT_EQ(defended->rcode(), wire::ns_rcode::kActive);
    ASSERT_EQ(defended->answers.size(), 1u);
    EXPECT_EQ(wire::DecodeNbEntries(defended->answers[0].rdata).at(0).address, loopback_);
    EXPECT_FALSE(Ask(wire::EncodeRegistrationRequest(0x3334, wire::MakeName("OTHER", 3),
                                                     Ipv4("10.9.9.9"), false)));

    ASSERT_EQ(Add("MARK"), nb::NRC_GOODRET);
    auto status = Ask(wire::EncodeNodeStatusRequest(0x4444, wire::WildcardName()));
    ASSERT_TRUE(status);
    ASSERT_EQ(status->answers.size(), 1u);
    EXPECT_EQ(status->answers[0].type, wire::kTypeNbstat);
    EXPECT_EQ(status->answers[0].rdata.size(), 18u * 2 + 47);
    auto names = wire::DecodeNodeStatus(status->answers[0].rdata);
    ASSERT_TRUE(names);
    ASSERT_EQ(names->names.size(), 2u);
    EXPECT_EQ(names->names[0].name, lena);
    EXPECT_EQ(names->names[1].name, wire::MakeName("MARK", 3));
    EXPECT_EQ(names->names[0].flags, wire::kActiveFlag);
}

TEST_F(NetbiosNames, InvalidNamesAndAdaptersAreRefused) {
    auto config = TestConfig();
    Start(config);
    auto wildcard = Ncb(nb::NCBADDNAME, lana_);
    wildcard.ncb_name[0] = '*';
    EXPECT_EQ(stack_->Submit(&wildcard), nb::NRC_NOWILD);
    auto empty = Ncb(nb::NCBADDNAME, lana_);
    empty.ncb_name[0] = 0;
    EXPECT_EQ(stack_->Submit(&empty), nb::NRC_ILLNN);
    auto no_adapter = Ncb(nb::NCBADDNAME, 200, "OLGA");
    EXPECT_EQ(stack_->Submit(&no_adapter), nb::NRC_BRIDGE);
    auto listen = Ncb(nb::NCBLISTEN, lana_, "NOTHELD");
    listen.ncb_callname[0] = '*';
    EXPECT_EQ(stack_->Submit(&listen), nb::NRC_NOWILD);
    auto unknown = Ncb(0x7E, lana_);
    EXPECT_EQ(stack_->Submit(&unknown), nb::NRC_ILLCMD);

    // A reset with room for two names.
    auto reset = Ncb(nb::NCBRESET, lana_);
    reset.ncb_callname[0] = 1;
    reset.ncb_callname[2] = 2;
    ASSERT_EQ(stack_->Submit(&reset), nb::NRC_GOODRET);
    EXPECT_EQ(Add("P1"), nb::NRC_GOODRET);
    EXPECT_EQ(Add("P2"), nb::NRC_GOODRET);
    EXPECT_EQ(Add("P3"), nb::NRC_NAMTFUL);
    // The reset dropped every name.
    ASSERT_EQ(stack_->Submit(&reset), nb::NRC_GOODRET);
    EXPECT_EQ(Add("P3"), nb::NRC_GOODRET);
}

TEST_F(NetbiosNames, PortsHeldByOthersAreReportedAndTakenOnceFree) {
    // Another program holds the name service port.
    int blocker = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(137);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

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
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].port, 137);
    EXPECT_EQ(problems[0].error, EADDRINUSE);
    EXPECT_EQ(nb::DescribeBindProblem(problems[0]),
              "port 137: in use by test_netbios_st (pid " + std::to_string(::getpid()) + ")");
    EXPECT_EQ(nb::DescribeBindProblem({139, EACCES}),
              "port 139: permission denied (needs CAP_NET_BIND_SERVICE)");

    const std::uint8_t refused = Add("QUINN");
    EXPECT_NE(refused, nb::NRC_GOODRET);
    ::close(blocker);
    EXPECT_EQ(Add("QUINN"), nb::NRC_GOODRET) << "the add itself tries the port again";
    EXPECT_TRUE(stack_->BindProblems().empty());
    std::this_thread::sleep_for(100ms);  // the report comes from the stack's thread
    std::lock_guard lock(m);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), problems);
    EXPECT_TRUE(reports.back().empty());
}

TEST_F(NetbiosNames, EnumeratesResetsAndDeletingANameEndsItsListens) {
    Start();
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
