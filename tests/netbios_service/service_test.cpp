// The NetBIOS service with several programs (each a client connection of its own), inside a
// network namespace of the test's own: who owns which name, what a program's end takes with it,
// how a misbehaving program is cut off alone, and how programs outlive a restart of the service.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/netbios/machine_service/client.h"
#include "platform/netbios/machine_service/protocol.h"
#include "platform/netbios/wire/datagram.h"
#include "platform/netbios/wire/mailslot_write.h"
#include "tests/netbios/netbios_test_util.h"
#include "tools/netbiosd/server/local_socket.h"
#include "tools/netbiosd/server/server.h"

namespace nb = platform::netbios;
namespace svc = platform::netbios::service;

namespace {

nb::NCB Ncb(std::uint8_t command, std::string_view name = {}) {
    nb::NCB ncb;
    ncb.ncb_command = command;
    ncb.ncb_lana_num = 0;
    std::memset(ncb.ncb_name, ' ', nb::NCBNAMSZ);
    std::memset(ncb.ncb_callname, ' ', nb::NCBNAMSZ);
    std::copy(name.begin(), name.end(), ncb.ncb_name);
    ncb.ncb_name[15] = 0x03;
    return ncb;
}

class ServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!tolvane::test::EnterPrivateNetworkNamespace()) {
            GTEST_SKIP() << "needs root to make a private network namespace";
        }
        nb::Stack::Config config;
        config.interfaces = {"lo"};
        config.computer_name = "SVCHOST";
        config.names_per_lana = 254;
        config.route_mailslot = [routes = routes_](std::uint8_t lana,
                                                   const nb::wire::NetbiosName& to, bool unique,
                                                   std::string_view mailslot) {
            return routes->Route(lana, to, unique, mailslot);
        };
        stack_ = std::make_unique<nb::Stack>(config);
        StartServer();
        std::uint8_t list[8] = {};
        nb::NCB enumerate = Ncb(nb::NCBENUM);
        enumerate.ncb_buffer = list;
        enumerate.ncb_length = sizeof list;
        ASSERT_EQ(NewProgram()->Submit(&enumerate), nb::NRC_GOODRET);
        ASSERT_EQ(list[0], 1);
        lana_ = list[1];
    }
    void TearDown() override {
        server_.reset();
        ::unlink(path_.c_str());
    }
    void StartServer() {
        std::string error;
        svc::Server::Options options;
        options.computer_name = "SVCHOST";
        options.limits.names = 8;
        options.routes = routes_;
        server_ = std::make_unique<svc::Server>(*stack_, svc::ListenLocal(path_, error), options);
    }
    std::shared_ptr<svc::ServiceClient> NewProgram() {
        return std::make_shared<svc::ServiceClient>(path_);
    }
    std::uint8_t Run(svc::ServiceClient& program, std::uint8_t command, std::string_view name) {
        nb::NCB ncb = Ncb(command, name);
        ncb.ncb_lana_num = lana_;
        return program.Submit(&ncb);
    }

    const std::string path_ = "/tmp/tolvane-service-test-" + std::to_string(::getpid());
    std::shared_ptr<svc::DatagramRoutes> routes_ = std::make_shared<svc::DatagramRoutes>();
    std::unique_ptr<nb::Stack> stack_;
    std::unique_ptr<svc::Server> server_;
    std::uint8_t lana_ = 0;
};

// An asynchronous listen as the ports issue it.
struct Listen {
    platform::Event done{platform::Event::Mode::ManualReset};
    nb::NCB ncb;
    Listen(svc::ServiceClient& program, std::uint8_t lana, std::string_view name) {
        ncb = Ncb(nb::NCBLISTEN | nb::ASYNCH, name);
        ncb.ncb_lana_num = lana;
        ncb.ncb_callname[0] = '*';
        ncb.ncb_event = &done;
        EXPECT_EQ(program.Submit(&ncb), nb::NRC_PENDING);
    }
    std::uint8_t Wait() {
        platform::Event* e[] = {&done};
        return platform::WaitAny(e, 5000) == 0 ? ncb.ncb_retcode : 0xEE;
    }
};

}  // namespace

TEST_F(ServiceTest, ANameIsItsProgramsUntilItGoesAndSessionsGoToTheListener) {
    auto alice = NewProgram();
    auto bob = NewProgram();
    ASSERT_EQ(Run(*alice, nb::NCBADDNAME, "SHARED"), nb::NRC_GOODRET);
    EXPECT_EQ(Run(*bob, nb::NCBADDNAME, "SHARED"), nb::NRC_DUPNAME);
    EXPECT_EQ(Run(*bob, nb::NCBDELNAME, "SHARED"), nb::NRC_NOWILD) << "not bob's to delete";
    EXPECT_EQ(Run(*bob, nb::NCBLISTEN, "SHARED"), nb::NRC_NOWILD) << "nor to listen on";
    EXPECT_EQ(Run(*bob, nb::NCBRESET, ""), nb::NRC_GOODRET) << "a reset drops only bob's own";

    // A caller reaches alice's listen; the session is alice's, carried on in her process.
    Listen listen(*alice, lana_, "SHARED");
    nbtest::RawPeer caller;
    ASSERT_TRUE(caller.Session(nbtest::Ipv4("127.0.0.1"), "SHARED"));
    ASSERT_EQ(listen.Wait(), nb::NRC_GOODRET);
    ASSERT_TRUE(caller.SendMessage({'h', 'i'}));
    std::uint8_t buffer[16];
    nb::NCB receive = Ncb(nb::NCBRECV);
    receive.ncb_lana_num = lana_;
    receive.ncb_lsn = listen.ncb.ncb_lsn;
    receive.ncb_buffer = buffer;
    receive.ncb_length = sizeof buffer;
    EXPECT_EQ(bob->Submit(&receive), nb::NRC_SNUMOUT) << "bob has no such session";
    ASSERT_EQ(alice->Submit(&receive), nb::NRC_GOODRET);
    EXPECT_EQ(std::string(buffer, buffer + receive.ncb_length), "hi");
    nb::NCB hangup = Ncb(nb::NCBHANGUP);
    hangup.ncb_lana_num = lana_;
    hangup.ncb_lsn = listen.ncb.ncb_lsn;
    EXPECT_EQ(alice->Submit(&hangup), nb::NRC_GOODRET);
    EXPECT_TRUE(caller.WaitClosed());

    // Alice's end takes her names with it at once: a pending listen ends, the name is free.
    Listen pending(*alice, lana_, "SHARED");
    alice.reset();
    EXPECT_EQ(pending.Wait(), nb::NRC_SYSTEM);
    EXPECT_EQ(Run(*bob, nb::NCBADDNAME, "SHARED"), nb::NRC_GOODRET);
    EXPECT_EQ(Run(*bob, nb::NCBRESET, ""), nb::NRC_GOODRET);
    EXPECT_EQ(Run(*NewProgram(), nb::NCBADDNAME, "SHARED"), nb::NRC_GOODRET);
}

// What every user shares: each program that adds the computer's name holds it, and each that
// listens gets its own stream of a caller's session, the caller one answer to each message; each
// program that opens a mailslot gets its own copy of a broadcast, a program's own name only its
// own. A program that does not read is dropped alone.
TEST_F(ServiceTest, TheComputerNameAndMailslotsAreEveryProgramsAndAUsersNameOnlyTheirs) {
    auto alice = NewProgram();
    auto bob = NewProgram();
    auto idle = NewProgram();
    for (auto* p : {alice.get(), bob.get(), idle.get()}) {
        ASSERT_EQ(Run(*p, nb::NCBADDNAME, "SVCHOST"), nb::NRC_GOODRET);
    }
    EXPECT_EQ(Run(*alice, nb::NCBADDNAME, "SVCHOST"), nb::NRC_DUPNAME);
    ASSERT_EQ(Run(*alice, nb::NCBADDNAME, "ALICE"), nb::NRC_GOODRET);

    Listen a(*alice, lana_, "SVCHOST"), b(*bob, lana_, "SVCHOST"), i(*idle, lana_, "SVCHOST");
    nbtest::RawPeer caller;
    ASSERT_TRUE(caller.Session(nbtest::Ipv4("127.0.0.1"), "SVCHOST"));
    for (auto* l : {&a, &b, &i}) {
        ASSERT_EQ(l->Wait(), nb::NRC_GOODRET);
    }
    const Bytes big(60000, 'x');
    std::uint8_t buffer[65535];
    auto exchange = [&](svc::ServiceClient& p, Listen& l, std::uint8_t answer) {
        nb::NCB receive = Ncb(nb::NCBRECV);
        receive.ncb_lana_num = lana_;
        receive.ncb_lsn = l.ncb.ncb_lsn;
        receive.ncb_buffer = buffer;
        receive.ncb_length = sizeof buffer;
        EXPECT_EQ(p.Submit(&receive), nb::NRC_GOODRET);
        EXPECT_EQ(receive.ncb_length, big.size());
        nb::NCB send = receive;
        send.ncb_command = nb::NCBSEND;
        send.ncb_buffer = &answer;
        send.ncb_length = 1;
        EXPECT_EQ(p.Submit(&send), nb::NRC_GOODRET);
    };
    // The idle program never reads: past its bound it is dropped, the others go on.
    for (std::uint8_t round = 1; round <= 8; ++round) {
        ASSERT_TRUE(caller.SendMessage(big));
        exchange(*alice, a, round);
        exchange(*bob, b, round + 100);
        EXPECT_EQ(caller.ReadMessage(), Bytes{round}) << "the first answer, once";
    }
    ASSERT_TRUE(caller.SendMessage({'e', 'n', 'd'}));
    nb::NCB hangup = Ncb(nb::NCBHANGUP);
    hangup.ncb_lana_num = lana_;
    for (auto [p, l] : {std::pair{alice.get(), &a}, std::pair{bob.get(), &b}}) {
        hangup.ncb_lsn = l->ncb.ncb_lsn;
        EXPECT_EQ(p->Submit(&hangup), nb::NRC_GOODRET);
    }
    EXPECT_TRUE(caller.WaitClosed());

    // A caller that has its answer and goes: the slower program still reads the whole session.
    Listen a2(*alice, lana_, "SVCHOST"), b2(*bob, lana_, "SVCHOST");
    nbtest::RawPeer quick;
    ASSERT_TRUE(quick.Session(nbtest::Ipv4("127.0.0.1"), "SVCHOST"));
    ASSERT_EQ(a2.Wait(), nb::NRC_GOODRET);
    ASSERT_EQ(b2.Wait(), nb::NRC_GOODRET);
    ASSERT_TRUE(quick.SendMessage(big));
    exchange(*alice, a2, 1);
    EXPECT_EQ(quick.ReadMessage(), Bytes{1});
    quick.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    exchange(*bob, b2, 2);

    auto slot_a = alice->OpenMailslot("MESSNGR", 400);
    auto slot_b = bob->OpenMailslot("\\mailslot\\messngr", 400);
    ASSERT_TRUE(slot_a && slot_b);
    EXPECT_FALSE(alice->OpenMailslot("MESSNGR", 400)) << "one copy a program";
    nbtest::RawUdp udp;
    auto datagram = [&](std::uint8_t type, const nb::wire::NetbiosName& to, std::uint8_t fill) {
        auto smb = nb::wire::EncodeMailslotWrite("\\MAILSLOT\\MESSNGR", Bytes(4, fill),
                                                 nb::wire::mailslot_class::kUnreliable);
        ASSERT_TRUE(udp.SendTo(nbtest::Ipv4("127.0.0.1"), 138,
                               nb::wire::EncodeDatagram(type, 1, nbtest::Ipv4("127.0.0.1"), 138,
                                                        nb::wire::MakeName("SRC", 0), to, smb)));
    };
    auto next = [](platform::mailslot::Mailslot& slot) -> int {
        std::uint8_t out[16];
        for (int waited = 0; waited < 3000; waited += 5) {
            if (auto n = slot.Read(out)) {
                return *n == 4 ? out[0] : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return 0;
    };
    datagram(nb::wire::datagram_type::kDirectUnique, nb::wire::MakeName("ALICE", 3), 1);
    datagram(nb::wire::datagram_type::kBroadcast, nb::wire::WildcardName(), 2);
    EXPECT_EQ(next(*slot_a), 1);
    EXPECT_EQ(next(*slot_a), 2);
    EXPECT_EQ(next(*slot_b), 2) << "alice's own datagram is not bob's";

    // The last holder's end lets go of the name; a restart of the service ends what came from it,
    // and the programs make it all anew.
    alice.reset();
    idle.reset();
    Listen pending(*bob, lana_, "SVCHOST");
    server_.reset();
    EXPECT_EQ(pending.Wait(), nb::NRC_SYSTEM);
    EXPECT_FALSE(slot_b->GetInfo());
    StartServer();
    EXPECT_EQ(Run(*bob, nb::NCBADDNAME, "SVCHOST"), nb::NRC_GOODRET);
    EXPECT_TRUE(bob->OpenMailslot("MESSNGR", 400));
}

TEST_F(ServiceTest, AProgramThatMisbehavesIsCutOffAloneAndEveryShareIsBounded) {
    auto raw = [&] {
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path, path_.data(), path_.size());
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        return fd;
    };
    auto cut_off = [](int fd) {
        std::uint8_t b[512];
        timeval t{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
        ssize_t n;
        while ((n = ::recv(fd, b, sizeof b, 0)) > 0) {
        }
        const int error = errno;
        ::close(fd);
        // Closed by the service: an end, or a reset where it left requests of ours unread.
        return n == 0 || error == ECONNRESET;
    };
    auto good = NewProgram();
    ASSERT_EQ(Run(*good, nb::NCBADDNAME, "GOOD"), nb::NRC_GOODRET);

    const int garbage = raw();
    ::send(garbage, "garbage", 7, 0);
    EXPECT_TRUE(cut_off(garbage));

    // Commands sent without ever reading an answer: refused past the bound, then cut off.
    const int flood = raw();
    svc::Request request;
    request.ncb.command = nb::NCBDELNAME;
    const auto bytes = svc::EncodeRequest(request);
    timeval t{1, 0};
    ::setsockopt(flood, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
    for (int i = 0; i < 20000 && ::send(flood, bytes.data(), bytes.size(), MSG_NOSIGNAL) > 0; ++i) {
    }
    EXPECT_TRUE(cut_off(flood));

    auto greedy = NewProgram();
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(Run(*greedy, nb::NCBADDNAME, "N" + std::to_string(i)), nb::NRC_GOODRET);
    }
    EXPECT_EQ(Run(*greedy, nb::NCBADDNAME, "ONEMORE"), nb::NRC_NAMTFUL);

    EXPECT_EQ(Run(*good, nb::NCBDELNAME, "GOOD"), nb::NRC_GOODRET) << "the others go on";
    EXPECT_EQ(server_->ClientCount(), 2u);
}
