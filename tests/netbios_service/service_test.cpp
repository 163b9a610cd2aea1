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

#include "platform/netbios/service/client.h"
#include "platform/netbios/service/local_socket.h"
#include "platform/netbios/service/protocol.h"
#include "platform/netbios/service/server.h"
#include "tests/netbios/netbios_test_util.h"

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

TEST_F(ServiceTest, MailslotsAreExclusiveAndEndWithTheirProgramOrTheService) {
    auto alice = NewProgram();
    auto bob = NewProgram();
    auto slot = alice->OpenMailslot("MESSNGR", 400);
    ASSERT_TRUE(slot);
    EXPECT_FALSE(bob->OpenMailslot("\\mailslot\\messngr", 400));
    slot.reset();  // freed once the service has read alice's word for it
    std::optional<platform::mailslot::Mailslot> bobs;
    for (int i = 0; i < 200 && !bobs; ++i) {
        bobs = bob->OpenMailslot("MESSNGR", 400);
    }
    ASSERT_TRUE(bobs);
    ASSERT_TRUE(bobs->GetInfo());

    // The service restarts: whatever was waiting ends, and what came from it is no longer fed,
    // so the ports make it all anew; the next command reaches the new service.
    ASSERT_EQ(Run(*bob, nb::NCBADDNAME, "BOB"), nb::NRC_GOODRET);
    Listen pending(*bob, lana_, "BOB");
    server_.reset();
    EXPECT_EQ(pending.Wait(), nb::NRC_SYSTEM);
    EXPECT_FALSE(bobs->GetInfo());
    StartServer();
    EXPECT_EQ(Run(*bob, nb::NCBADDNAME, "BOB"), nb::NRC_GOODRET);
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
