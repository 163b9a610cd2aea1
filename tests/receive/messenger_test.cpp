// The ports the reception service builds per adapter, inside a network namespace of the test's
// own (the messages themselves are tested from another host's side, in receive_test.py).
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/mailslot/mailslot.h"
#include "platform/netbios/machine_service.h"
#include "platform/netbios/wire/datagram.h"
#include "platform/netbios/wire/mailslot_write.h"
#include "reception/netbios/netbios_network.h"
#include "reception/service/messenger.h"
#include "tests/netbios/netbios_test_util.h"
#include "tools/netbiosd/server/local_socket.h"
#include "tools/netbiosd/server/server.h"

using namespace std::chrono;
using namespace nbtest;

namespace {

constexpr const char* kComputer = "TESTHOST";
constexpr const char* kUser = "TESTUSER";

// Waits, bounded, for a condition the service reaches on its own threads.
bool Eventually(const std::function<bool()>& done) {
    for (auto end = steady_clock::now() + seconds(10); !done(); std::this_thread::sleep_for(5ms)) {
        if (steady_clock::now() > end) {
            return false;
        }
    }
    return true;
}

// Everything the owner callback saw.
struct Inbox {
    std::mutex m;
    std::vector<ReceivedMessage> messages;

    void Add(ReceivedMessage message) {
        std::lock_guard g(m);
        messages.push_back(std::move(message));
    }
    bool WaitCount(std::size_t n) {
        return Eventually([&] {
            std::lock_guard g(m);
            return messages.size() >= n;
        });
    }
    ReceivedMessage At(std::size_t i) {
        std::lock_guard g(m);
        return messages.at(i);
    }
};

// Each test runs twice: on a stack of the test's own, and through the NetBIOS service.
enum class Mode { InProcess, Service };

class MessengerTest : public ::testing::TestWithParam<Mode> {
  protected:
    void SetUp() override {
        if (!tolvane::test::EnterPrivateNetworkNamespace()) {
            GTEST_SKIP() << "needs root to make a private network namespace";
        }
        auto config = TestConfig({});
        config.session_idle = milliseconds(1500);
        config.computer_name = kComputer;
        auto routes = std::make_shared<nb::service::DatagramRoutes>();
        if (GetParam() == Mode::Service) {
            config.route_mailslot = [routes](std::uint8_t lana, const nb::wire::NetbiosName& to,
                                             bool unique, std::string_view mailslot) {
                return routes->Route(lana, to, unique, mailslot);
            };
        }
        stack_ = std::make_shared<nb::Stack>(config);
        if (GetParam() == Mode::Service) {
            std::string error;
            nb::service::Server::Options options;
            options.routes = routes;
            options.computer_name = kComputer;
            options.sessions.idle = config.session_idle;
            server_ = std::make_unique<nb::service::Server>(
                *stack_, nb::service::ListenLocal(socket_path_, error), options);
            nb::UseService(socket_path_);
        } else {
            nb::SetProcessStack(stack_);
        }
    }
    void TearDown() override {
        Stop();
        nb::SetProcessStack(nullptr);
        server_.reset();
        ::unlink(socket_path_.c_str());
    }
    void Start(std::string computer = kComputer, std::string user = kUser) {
        Stop();
        CMessenger::Options options;
        options.computer_name = std::move(computer);
        options.user_name = std::move(user);
        options.open_retry_ms = 100;
        messenger_ = std::make_unique<CMessenger>(options);
        network_ = std::make_unique<TlNetbiosNetwork>(100);
        messenger_->SetCallback([this](ReceivedMessage m) { inbox_.Add(std::move(m)); });
        messenger_->SetNetwork(network_.get());
        network_->SetListener([this] { messenger_->Refresh(); });
        messenger_->Start();
        network_->Start();
    }
    void Stop() {
        if (messenger_) {
            messenger_->Stop();
        }
        network_.reset();
        messenger_.reset();
    }
    // The name answers a session request once its port has registered it and listens.
    static bool Listening(const std::string& name, const std::string& at = "127.0.0.1") {
        return Eventually([&] {
            RawPeer probe;
            if (!probe.Session(Ipv4(at), name)) {
                return false;
            }
            probe.SendMessage(smb::End(0));  // not a message: hung up unanswered
            return probe.WaitClosed();
        });
    }
    const std::string socket_path_ = "/tmp/tolvane-messenger-" + std::to_string(::getpid());
    std::shared_ptr<nb::Stack> stack_;
    std::unique_ptr<nb::service::Server> server_;
    Inbox inbox_;
    std::unique_ptr<CMessenger> messenger_;
    std::unique_ptr<TlNetbiosNetwork> network_;
};

// Two ports per adapter and the mailslot port, all built again on a refresh.
TEST_P(MessengerTest, EveryAdapterGetsBothNamesAndARefreshRebuildsEveryPort) {
    auto veth = tolvane::test::VethPeer::Create(5);
    if (!veth) {
        GTEST_SKIP() << "cannot create veth pairs here";
    }
    Start();
    ASSERT_TRUE(Eventually([&] { return messenger_->PortCount() == 2 * 2 + 1; }));
    ASSERT_TRUE(Listening(kUser, veth->local_address()));
    ASSERT_TRUE(Listening(kComputer));
    const std::size_t rebuilds = messenger_->RebuildCount();
    messenger_->Refresh();
    ASSERT_TRUE(Eventually([&] { return messenger_->RebuildCount() == rebuilds + 1; }));
    EXPECT_EQ(messenger_->PortCount(), 2 * 2 + 1u);
    ASSERT_TRUE(Listening(kComputer, veth->local_address()) && Listening(kUser));
    // The rebuilt mailslot port: a datagram is a broadcast message whatever its recipient.
    const Bytes datagram = BytesOf("SERVER\0SOMEONE-ELSE\0shutdown at 5\0");
    RawUdp udp;
    const auto smb = nb::wire::EncodeMailslotWrite("\\MAILSLOT\\MESSNGR", datagram,
                                                   nb::wire::mailslot_class::kUnreliable);
    const auto packet =
        nb::wire::EncodeDatagram(nb::wire::datagram_type::kBroadcast, 1, Ipv4("127.0.0.1"), 138,
                                 nb::wire::MakeName("SERVER", 0), nb::wire::WildcardName(), smb);
    ASSERT_TRUE(Eventually([&] {
        // Until the rebuilt port has its mailslot open.
        udp.SendTo(Ipv4("127.0.0.1"), 138, packet);
        std::this_thread::sleep_for(milliseconds(100));
        std::lock_guard g(inbox_.m);
        return !inbox_.messages.empty();
    }));
    const auto m = inbox_.At(0);
    EXPECT_EQ(m.kind, MessageKind::Broadcast);
    EXPECT_EQ(m.origin + "|" + m.recipient + "|" + m.text, "SERVER|SOMEONE-ELSE|shutdown at 5");
}

// Names compare as they go on the wire: a 16-character host name (its first 15 characters as the
// computer name) and a user of that name are one name, with one port; a user name beyond ASCII is
// registered as senders ask for it.
TEST_P(MessengerTest, NamesAreRegisteredAndComparedInTheirWireForm) {
    Start("LABMACHINE-0042", "labmachine-0042x");
    ASSERT_TRUE(Eventually([&] { return messenger_->RebuildCount() == 1; }));
    EXPECT_EQ(messenger_->PortCount(), 1 + 1u);
    EXPECT_TRUE(Listening("LABMACHINE-0042"));

    Start(kComputer, "jürgen");
    ASSERT_TRUE(Eventually([&] { return messenger_->RebuildCount() == 1; }));
    EXPECT_EQ(messenger_->PortCount(), 2 + 1u);
    EXPECT_TRUE(Listening("J\x9aRGEN"));
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Modes, MessengerTest, ::testing::Values(Mode::InProcess, Mode::Service),
                         [](const auto& info) {
                             return info.param == Mode::Service ? "Service" : "InProcess";
                         });
