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

TEST_F(NetbiosVeth, SecondRegistrationOfAHeldNameIsRefusedAndTheOwnerKeepsIt) {
    StartLocal();
    StartRemote();
    ASSERT_EQ(Submit(*local_, nb::NCBADDNAME, local_lana_, "CAROL"), nb::NRC_GOODRET);
    EXPECT_EQ(Submit(*remote_, nb::NCBADDNAME, remote_lana_, "CAROL"), nb::NRC_INUSE);
    EXPECT_EQ(Submit(*remote_, nb::NCBDELNAME, remote_lana_, "CAROL"), nb::NRC_NOWILD);
    AsyncListen listen(*local_, local_lana_, "CAROL");
    RawPeer caller;
    EXPECT_TRUE(caller.Session(Ipv4(peer_->local_address()), "CAROL"));
    ASSERT_TRUE(listen.Wait());
    EXPECT_EQ(listen.ncb.ncb_retcode, nb::NRC_GOODRET);

    // Once the owner releases it, the name is free for the other node.
    EXPECT_EQ(Submit(*local_, nb::NCBDELNAME, local_lana_, "CAROL"), nb::NRC_GOODRET);
    EXPECT_EQ(Submit(*remote_, nb::NCBADDNAME, remote_lana_, "CAROL"), nb::NRC_GOODRET);
    EXPECT_EQ(Submit(*local_, nb::NCBADDNAME, local_lana_, "CAROL"), nb::NRC_INUSE);
}

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
            sockaddr_in from{};
            auto bytes = node->Receive(50, &from);
            auto p = bytes ? wire::DecodeNsPacket(*bytes) : std::nullopt;
            if (!p || p->opcode() != wire::NsOpcode::Registration || p->additional.empty()) {
                continue;
            }
            const auto address = wire::DecodeNbEntries(p->additional[0].rdata).at(0).address;
            claimed.insert(address);
            if (p->questions.at(0).name == wire::MakeName(refused, 3) &&
                address == Ipv4(second + "1")) {
                node->SendTo(ntohl(from.sin_addr.s_addr), 137,
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
        sockaddr_in from{};
        for (int i = 0; i < 10; ++i) {
            auto bytes = node->Receive(1000, &from);
            auto p = bytes ? wire::DecodeNsPacket(*bytes) : std::nullopt;
            if (p && p->response() && !p->answers.empty()) {
                EXPECT_EQ(ntohl(from.sin_addr.s_addr), Ipv4(subnet + "1"));
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

TEST_F(NetbiosVeth, BroadcastMailslotDatagramReachesTheOtherNodesMailslot) {
    StartLocal();
    StartRemote();
    auto slot = platform::mailslot::Mailslot::Create("\\MAILSLOT\\MESSNGR", 400);
    ASSERT_TRUE(slot);
    const std::string text("ALICE\0*\0Hello over the wire", 27);
    const Bytes data(text.begin(), text.end());
    auto next = [&]() -> std::optional<Bytes> {
        Bytes out(1024);
        for (int i = 0; i < 200; ++i, std::this_thread::sleep_for(10ms)) {
            if (auto n = slot->Read(out)) {
                out.resize(*n);
                return out;
            }
        }
        return std::nullopt;
    };
    ASSERT_TRUE(remote_->WriteMailslot(remote_lana_, "*", "\\MAILSLOT\\MESSNGR", data));
    EXPECT_EQ(next(), data);
    // Addressed to this computer by name: resolved, then sent direct.
    ASSERT_EQ(Submit(*local_, nb::NCBADDNAME, local_lana_, "TESTHOST"), nb::NRC_GOODRET);
    ASSERT_TRUE(remote_->WriteMailslot(remote_lana_, "testhost", "MESSNGR", data));
    EXPECT_EQ(next(), data);
    EXPECT_FALSE(remote_->WriteMailslot(remote_lana_, "NOSUCHHOST", "MESSNGR", data));
}

// Samba's tools find the names, and see the interface's hardware address in the node status.
TEST_F(NetbiosVeth, NmblookupAndNbtscanFindTheNamesAndTheHardwareAddress) {
    for (const char* tool : {"nmblookup", "nbtscan"}) {
        if (!tolvane::test::CommandExists(tool)) {
            GTEST_SKIP() << tool << " not installed";
        }
    }
    StartLocal();
    ASSERT_EQ(Submit(*local_, nb::NCBADDNAME, local_lana_, "DAVE"), nb::NRC_GOODRET);
    ASSERT_EQ(Submit(*local_, nb::NCBADDNAME, local_lana_, "TESTHOST"), nb::NRC_GOODRET);
    const std::string address = peer_->local_address();
    auto lookup = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"nmblookup", "-s", "/dev/null"});
        return peer_->Exec(args).output;
    };
    EXPECT_NE(lookup({"-B", peer_->broadcast(), "DAVE#03"}).find(address + " DAVE<03>"),
              std::string::npos);
    EXPECT_NE(lookup({"-U", address, "DAVE#03"}).find(address + " DAVE<03>"), std::string::npos);
    EXPECT_EQ(lookup({"-U", address, "NOBODY#03"}).find(address + " NOBODY"), std::string::npos);

    const std::string link =
        tolvane::test::RunCommand({"ip", "-o", "link", "show", peer_->local_interface()}).output;
    const std::size_t ether = link.find("link/ether ");
    ASSERT_NE(ether, std::string::npos) << link;
    const std::string mac = link.substr(ether + 11, 17);
    const std::string status = lookup({"-A", address});
    EXPECT_NE(status.find("DAVE            <03>"), std::string::npos) << status;
    EXPECT_NE(status.find("TESTHOST        <03>"), std::string::npos) << status;
    std::string dashed = mac;
    for (char& c : dashed) {
        c = c == ':' ? '-' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_NE(status.find("MAC Address = " + dashed), std::string::npos) << status;
    const std::string scan = peer_->Exec({"nbtscan", address}).output;
    EXPECT_NE(scan.find(mac), std::string::npos) << scan;
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
    const Bytes text = {'A', 0, 'B', 0, 'h', 'i'};
    EXPECT_TRUE(remote_->WriteMailslot(remote_lana_, "capture", "\\MAILSLOT\\MESSNGR", text));
    EXPECT_TRUE(remote_->WriteMailslot(remote_lana_, "*", "\\MAILSLOT\\MESSNGR", text));
    peer_->RunInside([&] {
        RawUdp udp;
        udp.SendTo(here, 137, wire::EncodeNodeStatusRequest(0x77, wire::WildcardName()));
        EXPECT_TRUE(udp.Receive());
    });

    // Sessions: refused, accepted with a keep-alive first, a call from the other stack.
    MessageListener listener(*local_, local_lana_, "SESSIONS");
    ASSERT_EQ(listener.Start(), nb::NRC_GOODRET);
    RawPeer refused, accepted;
    peer_->RunInside([&] { ASSERT_TRUE(refused.Connect(here) && accepted.Connect(here)); });
    auto no = refused.Request("NOBODY");
    EXPECT_TRUE(no && no->first == wire::session_type::kNegative);
    ASSERT_TRUE(accepted.SendBytes({0x85, 0, 0, 0}));
    auto yes = accepted.Request("SESSIONS");
    EXPECT_TRUE(yes && yes->first == wire::session_type::kPositive);
    Bytes unit = smb::SingleBlock("A", "B", "hi!");
    ASSERT_TRUE(accepted.SendMessage(unit));
    EXPECT_TRUE(accepted.ReadMessage());
    ASSERT_EQ(Submit(*remote_, nb::NCBADDNAME, remote_lana_, "CALLER"), nb::NRC_GOODRET);
    auto call = Ncb(nb::NCBCALL, remote_lana_, "CALLER");
    SetCallName(call, "SESSIONS", 3);
    ASSERT_EQ(remote_->Submit(&call), nb::NRC_GOODRET);
    auto send = Ncb(nb::NCBSEND, remote_lana_, "CALLER");
    send.ncb_lsn = call.ncb_lsn;
    send.ncb_buffer = unit.data();
    send.ncb_length = static_cast<std::uint16_t>(unit.size());
    EXPECT_EQ(remote_->Submit(&send), nb::NRC_GOODRET);
    EXPECT_TRUE(listener.WaitForSessions(2));
    auto hangup = Ncb(nb::NCBHANGUP, remote_lana_, "CALLER");
    hangup.ncb_lsn = call.ncb_lsn;
    remote_->Submit(&hangup);

    EXPECT_EQ(Submit(*local_, nb::NCBDELNAME, local_lana_, "CAPTURE"), nb::NRC_GOODRET);
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
