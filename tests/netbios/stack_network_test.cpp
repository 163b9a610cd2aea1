#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <future>
#include <set>

#include "platform/mailslot/mailslot.h"
#include "platform/netbios/wire/name_service.h"
#include "tests/netbios/netbios_test_util.h"

// Two nodes on either end of a veth pair: our stack here, and a second stack, a raw peer or the
// Samba tools in the peer namespace.
using namespace nbtest;
using namespace std::chrono_literals;
using tolvane::test::VethPeer;

namespace {

class NetbiosVeth : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!tolvane::test::EnterPrivateNetworkNamespace()) {
            GTEST_SKIP() << "needs a private network namespace (root)";
        }
        peer_ = VethPeer::Create(1);
        if (!peer_) {
            GTEST_SKIP() << "cannot create a veth pair here (ip netns, veth)";
        }
    }
    void TearDown() override {
        remote_.reset();
        local_.reset();
        peer_.reset();
    }
    void StartLocal() {
        local_ = std::make_unique<nb::Stack>(TestConfig({peer_->local_interface()}));
        local_lana_ = LanaOf(*local_, peer_->local_interface());
        ASSERT_NE(local_lana_, 0xFF);
    }
    void StartRemote() {
        peer_->RunInside([&] {
            auto config = TestConfig({peer_->peer_interface()});
            config.computer_name = "PEERHOST";
            remote_ = std::make_unique<nb::Stack>(config);
        });
        remote_lana_ = LanaOf(*remote_, peer_->peer_interface());
        ASSERT_NE(remote_lana_, 0xFF);
    }
    static std::uint8_t Submit(nb::Stack& stack, std::uint8_t command, std::uint8_t lana,
                               std::string_view name) {
        auto ncb = Ncb(command, lana, name);
        return stack.Submit(&ncb);
    }

    std::unique_ptr<VethPeer> peer_;
    std::unique_ptr<nb::Stack> local_;
    std::unique_ptr<nb::Stack> remote_;
    std::uint8_t local_lana_ = 0xFF;
    std::uint8_t remote_lana_ = 0xFF;
};

// A second subnet on the same interface, added without a broadcast address: the node registers
// on both (a refusal from either fails the add), and answers and defends on each with its address
// there.
TEST_F(NetbiosVeth, EverySubnetOfAnInterfaceRegistersDefendsAndAnswersWithItsOwnAddress) {
    const std::string second = "10.211.101.";
    ASSERT_EQ(tolvane::test::RunCommand(
                  {"ip", "addr", "add", second + "1/24", "dev", peer_->local_interface()})
                  .exit_code,
              0);
    ASSERT_EQ(peer_
                  ->Exec({"ip", "addr", "add", second + "2/24", "brd", "+", "dev",
                          peer_->peer_interface()})
                  .exit_code,
              0);
    StartLocal();
    std::optional<RawUdp> node;  // a node with an address in each subnet
    peer_->RunInside([&] { node.emplace(137); });
    ASSERT_TRUE(node->bound());

    // Registrations seen, by the address they claim; TAKEN is owned on the second subnet.
    std::set<std::uint32_t> claimed;
    auto answer_registrations = [&](std::string_view refused, std::future<std::uint8_t>& add) {
        while (add.wait_for(0s) != std::future_status::ready) {
            std::uint32_t from = 0;
            auto bytes = node->Receive(50, &from);
            auto p = bytes ? wire::DecodeNsPacket(*bytes) : std::nullopt;
            if (!p || p->opcode() != wire::NsOpcode::Registration || p->additional.empty()) {
                continue;
            }
            const auto address = wire::DecodeNbEntries(p->additional[0].rdata).at(0).address;
            claimed.insert(address);
            if (p->questions.at(0).name == wire::MakeName(refused, 3) &&
                address == Ipv4(second + "1")) {
                node->SendTo(from, 137,
                             wire::EncodeNegativeRegistrationResponse(
                                 p->trn_id, p->questions[0].name, Ipv4(second + "2"),
                                 wire::ns_rcode::kActive));
            }
        }
    };
    auto taken = std::async(std::launch::async,
                            [&] { return Submit(*local_, nb::NCBADDNAME, local_lana_, "TAKEN"); });
    answer_registrations("TAKEN", taken);
    EXPECT_EQ(taken.get(), nb::NRC_INUSE);
    auto free = std::async(std::launch::async,
                           [&] { return Submit(*local_, nb::NCBADDNAME, local_lana_, "FREE"); });
    answer_registrations("TAKEN", free);
    EXPECT_EQ(free.get(), nb::NRC_GOODRET);
    EXPECT_EQ(claimed, (std::set{Ipv4(peer_->local_address()), Ipv4(second + "1")}));

    // Asked by broadcast on each subnet (the node hears its own broadcasts too): the answer
    // comes from, and names, our address on that subnet.
    const auto name = wire::MakeName("FREE", 3);
    auto ask = [&](const std::string& subnet, const Bytes& request) -> std::uint32_t {
        node->SendTo(Ipv4(subnet + "255"), 137, request);
        std::uint32_t from = 0;
        for (int i = 0; i < 10; ++i) {
            auto bytes = node->Receive(1000, &from);
            auto p = bytes ? wire::DecodeNsPacket(*bytes) : std::nullopt;
            if (p && p->response() && !p->answers.empty()) {
                EXPECT_EQ(from, Ipv4(subnet + "1"));
                return wire::DecodeNbEntries(p->answers[0].rdata).at(0).address;
            }
        }
        return 0;
    };
    for (const std::string& subnet : {std::string("10.211.1."), second}) {
        EXPECT_EQ(ask(subnet, wire::EncodeQueryRequest(0x1001, name, true)), Ipv4(subnet + "1"));
        EXPECT_EQ(
            ask(subnet, wire::EncodeRegistrationRequest(0x1002, name, Ipv4(subnet + "2"), false)),
            Ipv4(subnet + "1"));
    }
}

// Frames of the capture that match a display filter.
std::size_t Frames(const std::string& file, const std::string& filter) {
    auto r = tolvane::test::RunCommand(
        {"tshark", "-r", file, "-Y", filter, "-T", "fields", "-e", "frame.number"});
    // A filter tshark cannot parse must not pass as "no frames".
    EXPECT_EQ(r.exit_code, 0) << filter << ": " << r.output;
    std::size_t frames = 0;
    for (std::size_t at = 0; at < r.output.size(); at = r.output.find('\n', at) + 1) {
        frames += std::isdigit(static_cast<unsigned char>(r.output[at])) ? 1 : 0;
        if (r.output.find('\n', at) == std::string::npos) {
            break;
        }
    }
    return frames;
}

TEST_F(NetbiosVeth, EveryPacketKindDecodesCleanlyInWireshark) {
    if (!tolvane::test::CommandExists("tshark")) {
        GTEST_SKIP() << "tshark not installed";
    }
    char dir_template[] = "/tmp/tolvane-capture-XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    const std::filesystem::path dir = dir_template;
    const std::string file = (dir / "netbios.pcapng").string();
    struct Cleanup {
        std::filesystem::path dir;
        ~Cleanup() { std::filesystem::remove_all(dir); }
    } cleanup{dir};
    auto capture = tolvane::test::BackgroundProcess::Start(
        {"tshark", "-i", peer_->local_interface(), "-w", file, "-f",
         "udp port 137 or udp port 138 or tcp port 139"});
    ASSERT_TRUE(capture);
    ASSERT_TRUE(capture->WaitForOutput("Capturing on", 15s));
    StartLocal();
    StartRemote();
    const std::uint32_t here = Ipv4(peer_->local_address());

    // Name service: registration, overwrite, defence, query and answer, node status, release.
    ASSERT_EQ(Submit(*local_, nb::NCBADDNAME, local_lana_, "CAPTURE"), nb::NRC_GOODRET);
    EXPECT_EQ(Submit(*remote_, nb::NCBADDNAME, remote_lana_, "CAPTURE"), nb::NRC_INUSE);
    // Mailslot datagrams, to this node's name (resolved, then sent direct) and to every node.
    auto slot = platform::mailslot::Mailslot::Create("\\MAILSLOT\\MESSNGR", 400);
    ASSERT_TRUE(slot);
    const Bytes text = {'A', 0, 'B', 0, 'h', 'i'};
    EXPECT_TRUE(remote_->WriteMailslot(remote_lana_, "capture", "\\MAILSLOT\\MESSNGR", text));
    EXPECT_TRUE(remote_->WriteMailslot(remote_lana_, "*", "MESSNGR", text));
    EXPECT_FALSE(remote_->WriteMailslot(remote_lana_, "NOSUCHHOST", "MESSNGR", text));
    for (int arrived = 0, waited = 0; arrived < 2; ++waited, std::this_thread::sleep_for(10ms)) {
        Bytes out(1024);
        ASSERT_LT(waited, 500) << "mailslot datagrams lost";
        if (auto n = slot->Read(out)) {
            EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(*n)), text);
            ++arrived;
        }
    }
    peer_->RunInside([&] {
        RawUdp udp;
        udp.SendTo(here, 137, wire::EncodeNodeStatusRequest(0x77, wire::WildcardName()));
        EXPECT_TRUE(udp.Receive());
    });

    // Sessions: refused, accepted with a keep-alive first, a call from the other stack; each
    // carries one unit, answered.
    ASSERT_EQ(Submit(*local_, nb::NCBADDNAME, local_lana_, "SESSIONS"), nb::NRC_GOODRET);
    auto serve = [&](AsyncListen& listen) {
        ASSERT_TRUE(listen.Wait());
        Bytes unit(1024), reply = SmbUnit(0xD0, {});
        const std::uint8_t lsn = listen.ncb.ncb_lsn;
        EXPECT_EQ(OnSession(*local_, nb::NCBRECV, local_lana_, lsn, &unit), nb::NRC_GOODRET);
        OnSession(*local_, nb::NCBSEND, local_lana_, lsn, &reply);
        OnSession(*local_, nb::NCBHANGUP, local_lana_, lsn);
    };
    RawPeer refused, accepted;
    peer_->RunInside([&] { ASSERT_TRUE(refused.Connect(here) && accepted.Connect(here)); });
    auto no = refused.Request("NOBODY");
    EXPECT_TRUE(no && no->first == wire::session_type::kNegative);
    Bytes unit = smb::SingleBlock("A", "B", "hi!");
    {
        AsyncListen listen(*local_, local_lana_, "SESSIONS");
        // All in one write: the unit after the request is the session's, however it is read.
        ASSERT_TRUE(accepted.SendBytes(
            Concat(Concat({0x85, 0, 0, 0}, wire::EncodeSessionRequest(wire::MakeName("SESSIONS", 3),
                                                                      wire::MakeName("PEER", 0))),
                   Concat(SessionHeader(wire::session_type::kMessage, unit.size()), unit))));
        auto yes = accepted.ReadAnswer();
        EXPECT_TRUE(yes && yes->first == wire::session_type::kPositive);
        serve(listen);
        EXPECT_TRUE(accepted.ReadMessage());
    }
    ASSERT_EQ(Submit(*remote_, nb::NCBADDNAME, remote_lana_, "CALLER"), nb::NRC_GOODRET);
    AsyncListen listen(*local_, local_lana_, "SESSIONS");
    auto call = Ncb(nb::NCBCALL, remote_lana_, "CALLER");
    const auto called = wire::MakeName("SESSIONS", 3);
    std::memcpy(call.ncb_callname, called.data(), called.size());
    ASSERT_EQ(remote_->Submit(&call), nb::NRC_GOODRET);
    EXPECT_EQ(OnSession(*remote_, nb::NCBSEND, remote_lana_, call.ncb_lsn, &unit), nb::NRC_GOODRET);
    serve(listen);
    OnSession(*remote_, nb::NCBHANGUP, remote_lana_, call.ncb_lsn);

    // Released, the name is free for the other node.
    EXPECT_EQ(Submit(*local_, nb::NCBDELNAME, local_lana_, "CAPTURE"), nb::NRC_GOODRET);
    EXPECT_EQ(Submit(*remote_, nb::NCBADDNAME, remote_lana_, "CAPTURE"), nb::NRC_GOODRET);
    std::this_thread::sleep_for(500ms);  // the release is repeated; let the last one out
    auto stopped = capture->Stop(SIGINT);
    ASSERT_TRUE(std::filesystem::exists(file)) << stopped.output;

    EXPECT_EQ(Frames(file, "_ws.malformed || _ws.expert.severity >= error"), 0u);
    for (const char* filter : {
             "nbns.flags == 0x2910",                               // registration request
             "nbns.flags == 0x2810",                               // overwrite demand
             "nbns.flags == 0xad86",                               // negative registration response
             "nbns.flags == 0x0110",                               // broadcast query
             "nbns.flags == 0x8500",                               // positive query response
             "nbns.flags == 0x8400 && nbns.number_of_names == 1",  // node status
             "nbns.flags == 0x3010",                               // release
             "nbss.type == 0x81 && nbss.called_name contains \"SESSIONS\"",
             "nbss.type == 0x82",
             "nbss.type == 0x83 && nbss.error_code == 0x82",
             "nbss.type == 0x85",
             "nbss.type == 0x00 && smb.cmd == 0xd0",
             "nbdgm.type == 0x10 && mailslot.name == \"\\\\MAILSLOT\\\\MESSNGR\"",
             "nbdgm.type == 0x12 && mailslot.opcode == 1",
         }) {
        EXPECT_GT(Frames(file, filter), 0u) << "no frame matches " << filter;
    }
}

}  // namespace
