// The reception service end to end on loopback, inside a network namespace of the test's own:
// sessions from a small client, datagrams into the Messenger mailslot.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/mailslot/mailslot.h"
#include "platform/netbios/machine_service.h"
#include "platform/netbios/service/local_socket.h"
#include "platform/netbios/service/server.h"
#include "platform/netbios/stack.h"
#include "reception/mailslot/mailslot_network.h"
#include "reception/netbios/netbios_network.h"
#include "reception/service/messenger.h"
#include "tests/service/session_client.h"
#include "tests/support/network_namespace.h"

using namespace std::chrono;
namespace nb = platform::netbios;

namespace {

constexpr const char* kComputer = "TESTHOST";
constexpr const char* kUser = "TESTUSER";

// Everything the owner callback saw, with the time each arrived.
struct Inbox {
    std::mutex m;
    std::condition_variable cv;
    std::vector<ReceivedMessage> messages;

    void Add(ReceivedMessage message) {
        std::lock_guard g(m);
        messages.push_back(std::move(message));
        cv.notify_all();
    }
    bool WaitCount(std::size_t n, milliseconds limit = milliseconds(10000)) {
        std::unique_lock g(m);
        return cv.wait_for(g, limit, [&] { return messages.size() >= n; });
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
        nb::Stack::Config config;
        config.interfaces = {"lo"};
        config.session_idle = milliseconds(1500);
        config.computer_name = kComputer;
        stack_ = std::make_shared<nb::Stack>(config);
        if (GetParam() == Mode::Service) {
            const std::string path = "/tmp/tolvane-messenger-" + std::to_string(::getpid());
            std::string error;
            nb::service::Server::Options options;
            options.computer_name = kComputer;
            options.sessions.idle = config.session_idle;
            server_ = std::make_unique<nb::service::Server>(
                *stack_, nb::service::ListenLocal(path, error), options);
            nb::UseService(path);
        } else {
            nb::SetProcessStack(stack_);
        }
        CMessenger::Options options;
        options.computer_name = kComputer;
        options.user_name = kUser;
        options.open_retry_ms = 100;
        options.mailslot_poll_ms = 20;
        messenger_ = std::make_unique<CMessenger>(options);
        network_ = std::make_unique<TlNetbiosNetwork>(100);
        messenger_->SetCallback([this](ReceivedMessage m) { inbox_.Add(std::move(m)); });
        messenger_->SetNetwork(network_.get());
        network_->SetListener([this] { messenger_->Refresh(); });
        messenger_->Start();
        network_->Start();
        ASSERT_TRUE(WaitUntilListening(kUser));
        ASSERT_TRUE(WaitUntilListening(kComputer));
    }
    void TearDown() override {
        if (messenger_) {
            messenger_->Stop();
        }
        network_.reset();
        messenger_.reset();
        nb::SetProcessStack(nullptr);
        server_.reset();
        ::unlink(("/tmp/tolvane-messenger-" + std::to_string(::getpid())).c_str());
    }

    // The name answers a session request once its port has registered it and listens.
    bool WaitUntilListening(const std::string& name) {
        auto end = steady_clock::now() + seconds(10);
        while (steady_clock::now() < end) {
            SessionClient probe;
            if (probe.Connect("127.0.0.1") && probe.RequestSession(name) == 0x82) {
                probe.SendMessage(smb_units::End(0));  // not a message: hung up unanswered
                probe.WaitClosed(2000);
                return true;
            }
            std::this_thread::sleep_for(milliseconds(50));
        }
        return false;
    }

    std::unique_ptr<SessionClient> Open(const std::string& name) {
        auto c = std::make_unique<SessionClient>();
        EXPECT_TRUE(c->Connect("127.0.0.1"));
        EXPECT_EQ(c->RequestSession(name), 0x82);
        return c;
    }

    std::shared_ptr<nb::Stack> stack_;
    std::unique_ptr<nb::service::Server> server_;
    Inbox inbox_;
    std::unique_ptr<CMessenger> messenger_;
    std::unique_ptr<TlNetbiosNetwork> network_;
};

std::uint16_t WordZero(const std::vector<std::uint8_t>& reply) {
    return static_cast<std::uint16_t>(reply.at(33) | (reply.at(34) << 8));
}

}  // namespace

TEST_P(MessengerTest, SingleBlockIsAnsweredBeforeItIsDelivered) {
    auto c = Open(kUser);
    ASSERT_TRUE(c->SendMessage(smb_units::SingleBlock("ALICE", kUser, "hello\x14world")));
    auto reply = c->ReceiveMessage();
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->size(), 35u);
    EXPECT_EQ((*reply)[4], 0xD0);
    for (std::size_t i = 5; i < reply->size(); ++i) {
        EXPECT_EQ((*reply)[i], 0) << "byte " << i;
    }
    EXPECT_TRUE(c->WaitClosed());
    ASSERT_TRUE(inbox_.WaitCount(1));
    auto m = inbox_.At(0);
    EXPECT_EQ(m.kind, MessageKind::Personal);
    EXPECT_EQ(m.origin, "ALICE");
    EXPECT_EQ(m.recipient, kUser);
    EXPECT_EQ(m.text, "hello\x14world") << "line breaks are the owner's business";
}

TEST_P(MessengerTest, MultiBlockJoinsBlocksAndHandsOutIncreasingGroupIds) {
    std::uint16_t previous = 0;
    for (int round = 0; round < 2; ++round) {
        auto c = Open(kComputer);
        ASSERT_TRUE(c->SendMessage(smb_units::Start("BOB", kComputer)));
        auto start = c->ReceiveMessage();
        ASSERT_TRUE(start);
        ASSERT_EQ(start->size(), 37u);
        EXPECT_EQ((*start)[32], 1) << "word count";
        std::uint16_t group = WordZero(*start);
        if (round == 1) {
            EXPECT_EQ(group, static_cast<std::uint16_t>(previous + 1));
        }
        previous = group;
        for (const char* block : {"one ", "two ", "three"}) {
            // The group id the sender echoes is not checked.
            ASSERT_TRUE(
                c->SendMessage(smb_units::Text(static_cast<std::uint16_t>(group + 7), block)));
            auto r = c->ReceiveMessage();
            ASSERT_TRUE(r);
            EXPECT_EQ((*r)[4], 0xD7);
        }
        ASSERT_TRUE(c->SendMessage(smb_units::End(group)));
        auto end = c->ReceiveMessage();
        ASSERT_TRUE(end);
        EXPECT_EQ((*end)[4], 0xD6);
        EXPECT_TRUE(c->WaitClosed());
    }
    ASSERT_TRUE(inbox_.WaitCount(2));
    EXPECT_EQ(inbox_.At(0).text, "one two three");
    EXPECT_EQ(inbox_.At(1).origin, "BOB");
}

TEST_P(MessengerTest, StartThenEndGivesEmptyTextAndABrokenSessionDeliversWhatCame) {
    {
        auto c = Open(kUser);
        c->SendMessage(smb_units::Start("CAROL", kUser));
        ASSERT_TRUE(c->ReceiveMessage());
        c->SendMessage(smb_units::End(1));
        ASSERT_TRUE(c->ReceiveMessage());
    }
    {
        auto c = Open(kUser);
        c->SendMessage(smb_units::Start("DAVE", kUser));
        ASSERT_TRUE(c->ReceiveMessage());
        c->SendMessage(smb_units::Text(1, "partial"));
        ASSERT_TRUE(c->ReceiveMessage());
        c->Close();  // the sender goes away mid-message
    }
    ASSERT_TRUE(inbox_.WaitCount(2));
    EXPECT_EQ(inbox_.At(0).origin, "CAROL");
    EXPECT_EQ(inbox_.At(0).text, "");
    EXPECT_EQ(inbox_.At(1).origin, "DAVE");
    EXPECT_EQ(inbox_.At(1).text, "partial");
}

TEST_P(MessengerTest, BadSendersCostOnlyTheirOwnSession) {
    {
        auto c = Open(kUser);  // a unit whose byte count runs past the data
        auto unit = smb_units::SingleBlock("EVE", kUser, "x");
        unit[33] = 0xFF;
        unit[34] = 0x03;
        c->SendMessage(unit);
        EXPECT_TRUE(c->WaitClosed());
    }
    {
        auto c = Open(kUser);  // not SMB at all
        c->SendMessage({'g', 'a', 'r', 'b', 'a', 'g', 'e'});
        EXPECT_TRUE(c->WaitClosed());
    }
    {
        SessionClient c;  // garbage instead of a session request
        ASSERT_TRUE(c.Connect("127.0.0.1"));
        c.SendRaw(std::vector<std::uint8_t>(200, 0x81));
        EXPECT_TRUE(c.WaitClosed());
    }
    {
        auto c = Open(kUser);  // a multi-block text unit that lies about its counts
        c->SendMessage(smb_units::Start("MALLORY", kUser));
        ASSERT_TRUE(c->ReceiveMessage());
        auto text = smb_units::Text(1, "kept");
        c->SendMessage(text);
        ASSERT_TRUE(c->ReceiveMessage());
        text[32] = 200;  // word count past the data
        c->SendMessage(text);
        EXPECT_TRUE(c->ReceiveMessage()) << "the end reply still comes";
        EXPECT_TRUE(c->WaitClosed());
    }
    auto silent = Open(kUser);  // falls silent: the idle bound ends it
    EXPECT_TRUE(silent->WaitClosed(10000));

    auto c = Open(kUser);
    c->SendMessage(smb_units::SingleBlock("FRANK", kUser, "still here"));
    ASSERT_TRUE(c->ReceiveMessage());
    ASSERT_TRUE(inbox_.WaitCount(2));
    EXPECT_EQ(inbox_.At(0).origin, "MALLORY");
    EXPECT_EQ(inbox_.At(0).text, "kept");
    EXPECT_EQ(inbox_.At(1).text, "still here");
}

TEST_P(MessengerTest, MailslotDatagramIsABroadcastWhateverItsRecipient) {
    std::string datagram("SERVER\0SOMEONE-ELSE\0shutdown at 5\0", 34);
    auto bytes = std::vector<std::uint8_t>(datagram.begin(), datagram.end());
    auto end = steady_clock::now() + seconds(10);
    while (platform::mailslot::Write("MESSNGR", bytes) !=
               platform::mailslot::WriteResult::Written &&
           steady_clock::now() < end) {
        std::this_thread::sleep_for(milliseconds(20));
    }
    ASSERT_TRUE(inbox_.WaitCount(1));
    auto m = inbox_.At(0);
    EXPECT_EQ(m.kind, MessageKind::Broadcast);
    EXPECT_EQ(m.origin, "SERVER");
    EXPECT_EQ(m.recipient, "SOMEONE-ELSE");
    EXPECT_EQ(m.text, "shutdown at 5");
}

INSTANTIATE_TEST_SUITE_P(Modes, MessengerTest, ::testing::Values(Mode::InProcess, Mode::Service),
                         [](const auto& info) {
                             return info.param == Mode::Service ? "Service" : "InProcess";
                         });
