#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <thread>

#include "platform/mailslot/mailslot.h"
#include "platform/netbios/wire/name_service.h"
#include "platform/sync/event.h"
#include "tests/netbios/message_listener.h"
#include "tests/netbios/netbios_test_util.h"
#include "tests/support/network_namespace.h"

// Two nodes on either end of a veth pair: our stack here, and a second stack or the Samba tools
// in the peer namespace.
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
        local_ = std::make_unique<nb::Stack>(TestConfig({peer_->local_interface()}));
        local_lana_ = LanaOf(*local_, peer_->local_interface());
        ASSERT_NE(local_lana_, 0xFF);
    }
    void TearDown() override {
        remote_.reset();
        local_.reset();
        peer_.reset();
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
    static std::uint8_t Add(nb::Stack& stack, std::uint8_t lana, std::string_view name) {
        auto ncb = Ncb(nb::NCBADDNAME, lana, name);
        return stack.Submit(&ncb);
    }
    bool HaveTool(const char* tool) { return tolvane::test::CommandExists(tool); }

    std::unique_ptr<VethPeer> peer_;
    std::unique_ptr<nb::Stack> local_;
    std::unique_ptr<nb::Stack> remote_;
    std::uint8_t local_lana_ = 0xFF;
    std::uint8_t remote_lana_ = 0xFF;
};

TEST_F(NetbiosVeth, SecondRegistrationOfAHeldNameIsRefusedAndTheOwnerKeepsIt) {
    StartRemote();
    ASSERT_EQ(Add(*local_, local_lana_, "CAROL"), nb::NRC_GOODRET);
    EXPECT_EQ(Add(*remote_, remote_lana_, "CAROL"), nb::NRC_INUSE);
    // The loser holds nothing; the owner still takes sessions.
    auto del = Ncb(nb::NCBDELNAME, remote_lana_, "CAROL");
    EXPECT_EQ(remote_->Submit(&del), nb::NRC_NOWILD);
    platform::Event done;
    auto listen = Ncb(nb::NCBLISTEN | nb::ASYNCH, local_lana_, "CAROL");
    listen.ncb_callname[0] = '*';
    listen.ncb_event = &done;
    ASSERT_EQ(local_->Submit(&listen), nb::NRC_PENDING);
    RawPeer caller;
    ASSERT_TRUE(caller.Connect(Ipv4(peer_->local_address())));
    auto answer = caller.Request("CAROL");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->first, wire::session_type::kPositive);
    platform::Event* events[] = {&done};
    ASSERT_EQ(platform::WaitAny(events, 5000), 0);
    EXPECT_EQ(listen.ncb_retcode, nb::NRC_GOODRET);

    // After the owner releases it, the name is free for the other node.
    auto release = Ncb(nb::NCBDELNAME, local_lana_, "CAROL");
    EXPECT_EQ(local_->Submit(&release), nb::NRC_GOODRET);
    EXPECT_EQ(Add(*remote_, remote_lana_, "CAROL"), nb::NRC_GOODRET);
    EXPECT_EQ(Add(*local_, local_lana_, "CAROL"), nb::NRC_INUSE);
}

TEST_F(NetbiosVeth, BroadcastMailslotDatagramReachesTheOtherNodesMailslot) {
    StartRemote();
    const std::string slot_name = "\\MAILSLOT\\MESSNGR";
    auto slot = platform::mailslot::Mailslot::Create(slot_name, 400);
    ASSERT_TRUE(slot);
    const std::string text = std::string("ALICE\0*\0Hello over the wire", 27);
    const std::vector<std::uint8_t> data(text.begin(), text.end());
    ASSERT_TRUE(remote_->WriteMailslot(remote_lana_, "*", slot_name, data));

    std::vector<std::uint8_t> out(1024);
    std::optional<std::size_t> got;
    for (int i = 0; i < 200 && !got; ++i) {
        got = slot->Read(out);
        if (!got) {
            std::this_thread::sleep_for(10ms);
        }
    }
    ASSERT_TRUE(got);
    out.resize(*got);
    EXPECT_EQ(out, data);

    // Addressed to this computer by name: resolved, then sent direct.
    ASSERT_EQ(Add(*local_, local_lana_, "TESTHOST"), nb::NRC_GOODRET);
    ASSERT_TRUE(remote_->WriteMailslot(remote_lana_, "testhost", "MESSNGR", data));
    got.reset();
    out.assign(1024, 0);
    for (int i = 0; i < 200 && !got; ++i) {
        got = slot->Read(out);
        if (!got) {
            std::this_thread::sleep_for(10ms);
        }
    }
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, data.size());
    EXPECT_FALSE(remote_->WriteMailslot(remote_lana_, "NOSUCHHOST", "MESSNGR", data));
}

TEST_F(NetbiosVeth, NmblookupFindsARegisteredNameAndListsTheNodesNames) {
    if (!HaveTool("nmblookup")) {
        GTEST_SKIP() << "nmblookup not installed";
    }
    ASSERT_EQ(Add(*local_, local_lana_, "DAVE"), nb::NRC_GOODRET);
    ASSERT_EQ(Add(*local_, local_lana_, "TESTHOST"), nb::NRC_GOODRET);
    const std::string address = peer_->local_address();

    auto by_broadcast =
        peer_->Exec({"nmblookup", "-s", "/dev/null", "-B", peer_->broadcast(), "DAVE#03"});
    EXPECT_NE(by_broadcast.output.find(address + " DAVE<03>"), std::string::npos)
        << by_broadcast.output;
    auto unicast = peer_->Exec({"nmblookup", "-s", "/dev/null", "-U", address, "DAVE#03"});
    EXPECT_NE(unicast.output.find(address + " DAVE<03>"), std::string::npos) << unicast.output;
    auto unknown = peer_->Exec({"nmblookup", "-s", "/dev/null", "-U", address, "NOBODY#03"});
    EXPECT_EQ(unknown.output.find(address + " NOBODY"), std::string::npos) << unknown.output;

    auto status = peer_->Exec({"nmblookup", "-s", "/dev/null", "-A", address});
    EXPECT_NE(status.output.find("DAVE"), std::string::npos) << status.output;
    EXPECT_NE(status.output.find("<03>"), std::string::npos) << status.output;
    EXPECT_NE(status.output.find("TESTHOST"), std::string::npos) << status.output;
}

// Frames of the capture that match a display filter.
std::vector<std::string> Frames(const std::string& file, const std::string& filter) {
    auto r = tolvane::test::RunCommand(
        {"tshark", "-r", file, "-Y", filter, "-T", "fields", "-e", "frame.number"});
    // A filter tshark cannot parse must not pass as "no frames".
    EXPECT_EQ(r.exit_code, 0) << filter << ": " << r.output;
    std::vector<std::string> frames;
    std::size_t start = 0;
    while (start < r.output.size()) {
        const std::size_t end = r.output.find('\n', start);
        const std::string line = r.output.substr(start, end - start);
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
            frames.push_back(line);
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return frames;
}

TEST_F(NetbiosVeth, EveryPacketKindDecodesCleanlyInWireshark) {
    if (!HaveTool("tshark")) {
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
    StartRemote();
    const std::uint32_t here = Ipv4(peer_->local_address());

    // Name service: registration, overwrite, defence, query and answer, node status, release.
    ASSERT_EQ(Add(*local_, local_lana_, "CAPTURE"), nb::NRC_GOODRET);
    EXPECT_EQ(Add(*remote_, remote_lana_, "CAPTURE"), nb::NRC_INUSE);
    const std::vector<std::uint8_t> text = {'A', 0, 'B', 0, 'h', 'i'};
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
    peer_->RunInside([&] {
        ASSERT_TRUE(refused.Connect(here));
        ASSERT_TRUE(accepted.Connect(here));
    });
    auto no = refused.Request("NOBODY");
    ASSERT_TRUE(no);
    EXPECT_EQ(no->first, wire::session_type::kNegative);
    ASSERT_TRUE(accepted.SendBytes({0x85, 0, 0, 0}));
    auto yes = accepted.Request("SESSIONS");
    ASSERT_TRUE(yes);
    EXPECT_EQ(yes->first, wire::session_type::kPositive);
    std::vector<std::uint8_t> unit(32, 0);
    unit[0] = 0xFF, unit[1] = 'S', unit[2] = 'M', unit[3] = 'B', unit[4] = 0xD0;
    unit.insert(unit.end(), {0, 12, 0, 4, 'A', 0, 4, 'B', 0, 1, 3, 0, 'h', 'i', '!'});
    ASSERT_TRUE(accepted.SendMessage(unit));
    EXPECT_TRUE(accepted.ReadMessage());
    ASSERT_EQ(Add(*remote_, remote_lana_, "CALLER"), nb::NRC_GOODRET);
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

    auto del = Ncb(nb::NCBDELNAME, local_lana_, "CAPTURE");
    EXPECT_EQ(local_->Submit(&del), nb::NRC_GOODRET);
    std::this_thread::sleep_for(500ms);  // the release is repeated; let the last one out
    auto stopped = capture->Stop(SIGINT);
    ASSERT_TRUE(std::filesystem::exists(file)) << stopped.output;

    EXPECT_TRUE(Frames(file, "_ws.malformed || _ws.expert.severity >= error").empty());
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
        EXPECT_FALSE(Frames(file, filter).empty()) << "no frame matches " << filter;
    }
}

}  // namespace
