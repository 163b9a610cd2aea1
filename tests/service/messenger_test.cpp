// The reception service end to end inside a network namespace of the test's own: sessions from a
// raw peer, datagrams into the Messenger mailslot, the ports it builds per adapter.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/mailslot/mailslot.h"
#include "reception/netbios/netbios_network.h"
#include "reception/service/messenger.h"
#include "tests/netbios/netbios_test_util.h"

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

class MessengerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!tolvane::test::EnterPrivateNetworkNamespace()) {
            GTEST_SKIP() << "needs root to make a private network namespace";
        }
        auto config = TestConfig({});
        config.session_idle = milliseconds(1500);
        config.computer_name = kComputer;
        nb::SetProcessStack(std::make_shared<nb::Stack>(config));
    }
    void TearDown() override {
        Stop();
        nb::SetProcessStack(nullptr);
    }
    void Start(std::string computer = kComputer, std::string user = kUser) {
        Stop();
        CMessenger::Options options;
        options.computer_name = std::move(computer);
        options.user_name = std::move(user);
        options.open_retry_ms = 100;
        options.mailslot_poll_ms = 20;
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
    std::unique_ptr<RawPeer> Open(const std::string& name) {
        auto c = std::make_unique<RawPeer>();
        EXPECT_TRUE(c->Session(loopback_, name));
        return c;
    }

    const std::uint32_t loopback_ = Ipv4("127.0.0.1");
    Inbox inbox_;
    std::unique_ptr<CMessenger> messenger_;
    std::unique_ptr<TlNetbiosNetwork> network_;
};

class Messages : public MessengerTest {
  protected:
    void SetUp() override {
        MessengerTest::SetUp();
        if (!IsSkipped()) {
            Start();
            ASSERT_TRUE(Listening(kUser) && Listening(kComputer));
        }
    }
};

TEST_F(Messages, SingleBlockIsAnsweredBeforeItIsDelivered) {
    auto c = Open(kUser);
    ASSERT_TRUE(c->SendMessage(smb::SingleBlock("ALICE", kUser, "hello\x14world")));
    auto reply = c->ReadMessage();
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, SmbUnit(0xD0, {}));
    EXPECT_TRUE(c->WaitClosed());
    ASSERT_TRUE(inbox_.WaitCount(1));
    auto m = inbox_.At(0);
    EXPECT_EQ(m.kind, MessageKind::Personal);
    EXPECT_EQ(m.origin + "|" + m.recipient, std::string("ALICE|") + kUser);
    EXPECT_EQ(m.text, "hello\x14world") << "line breaks are the owner's business";
}

TEST_F(Messages, MultiBlockJoinsBlocksAndHandsOutIncreasingGroupIds) {
    std::uint16_t previous = 0;
    for (int round = 0; round < 2; ++round) {
        auto c = Open(kComputer);
        ASSERT_TRUE(c->SendMessage(smb::Start("BOB", kComputer)));
        auto start = c->ReadMessage();
        ASSERT_TRUE(start && start->size() == 37u && (*start)[32] == 1);
        const auto group = static_cast<std::uint16_t>((*start)[33] | (*start)[34] << 8);
        if (round == 1) {
            EXPECT_EQ(group, static_cast<std::uint16_t>(previous + 1));
        }
        previous = group;
        for (const char* block : {"one ", "two ", "three"}) {
            // The group id the sender echoes is not checked.
            ASSERT_TRUE(c->SendMessage(smb::Text(static_cast<std::uint16_t>(group + 7), block)));
            auto r = c->ReadMessage();
            EXPECT_TRUE(r && (*r)[4] == 0xD7);
        }
        ASSERT_TRUE(c->SendMessage(smb::End(group)));
        auto end = c->ReadMessage();
        EXPECT_TRUE(end && (*end)[4] == 0xD6);
        EXPECT_TRUE(c->WaitClosed());
    }
    ASSERT_TRUE(inbox_.WaitCount(2));
    EXPECT_EQ(inbox_.At(0).text, "one two three");
    EXPECT_EQ(inbox_.At(1).origin, "BOB");
}

TEST_F(Messages, StartThenEndGivesEmptyTextAndABrokenSessionDeliversWhatCame) {
    {
        auto c = Open(kUser);
        c->SendMessage(smb::Start("CAROL", kUser));
        ASSERT_TRUE(c->ReadMessage());
        c->SendMessage(smb::End(1));
        ASSERT_TRUE(c->ReadMessage());
    }
    {
        auto c = Open(kUser);
        c->SendMessage(smb::Start("DAVE", kUser));
        ASSERT_TRUE(c->ReadMessage());
        c->SendMessage(smb::Text(1, "partial"));
        ASSERT_TRUE(c->ReadMessage());
    }  // the sender goes away mid-message
    ASSERT_TRUE(inbox_.WaitCount(2));
    EXPECT_EQ(inbox_.At(0).origin + "|" + inbox_.At(0).text, "CAROL|");
    EXPECT_EQ(inbox_.At(1).origin + "|" + inbox_.At(1).text, "DAVE|partial");
}

TEST_F(Messages, BadSendersCostOnlyTheirOwnSession) {
    {
        auto c = Open(kUser);  // a unit whose byte count runs past the data
        auto unit = smb::SingleBlock("EVE", kUser, "x");
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
        RawPeer c;  // garbage instead of a session request
        ASSERT_TRUE(c.Connect(loopback_));
        c.SendBytes(Bytes(200, 0x81));
        EXPECT_TRUE(c.WaitClosed());
    }
    {
        auto c = Open(kUser);  // a multi-block text unit that lies about its counts
        c->SendMessage(smb::Start("MALLORY", kUser));
        ASSERT_TRUE(c->ReadMessage());
        auto text = smb::Text(1, "kept");
        c->SendMessage(text);
        ASSERT_TRUE(c->ReadMessage());
        text[32] = 200;  // word count past the data
        c->SendMessage(text);
        EXPECT_TRUE(c->ReadMessage()) << "the end reply still comes";
        EXPECT_TRUE(c->WaitClosed());
    }
    auto silent = Open(kUser);  // falls silent: the idle bound ends it
    EXPECT_TRUE(silent->WaitClosed(10000));

    auto c = Open(kUser);
    c->SendMessage(smb::SingleBlock("FRANK", kUser, "still here"));
    ASSERT_TRUE(c->ReadMessage());
    ASSERT_TRUE(inbox_.WaitCount(2));
    EXPECT_EQ(inbox_.At(0).origin + "|" + inbox_.At(0).text, "MALLORY|kept");
    EXPECT_EQ(inbox_.At(1).text, "still here");
}

// Senders that come back as soon as they have their reply usually find the port between two
// listens: their requests wait, are taken by the next listen, and the descriptor numbers of
// finished sessions are handed to new connections at once. None may be lost on the way.
TEST_F(Messages, ManySessionsInARowAreAllServed) {
    constexpr int kSessions = 1000;
    const Bytes unit = smb::SingleBlock("x", kUser, "hi");
    int served = 0;
    for (RawPeer peer; served < kSessions; ++served) {
        if (!peer.Session(loopback_, kUser) || !peer.SendMessage(unit) || !peer.ReadMessage()) {
            break;
        }
    }
    EXPECT_EQ(served, kSessions);
    EXPECT_TRUE(inbox_.WaitCount(kSessions));
}

// Two ports per adapter and the mailslot port, all built again on a refresh.
TEST_F(MessengerTest, EveryAdapterGetsBothNamesAndARefreshRebuildsEveryPort) {
    auto veth = tolvane::test::VethPeer::Create(5);
    if (!veth) {
        GTEST_SKIP() << "cannot create veth pairs here";
    }
    Start();
    ASSERT_TRUE(Eventually([&] { return messenger_->PortCount() == 2 * 2 + 1; }));
    ASSERT_TRUE(Listening(kUser, veth->local_address()) && Listening(kComputer));
    const std::size_t rebuilds = messenger_->RebuildCount();
    messenger_->Refresh();
    ASSERT_TRUE(Eventually([&] { return messenger_->RebuildCount() == rebuilds + 1; }));
    EXPECT_EQ(messenger_->PortCount(), 2 * 2 + 1u);
    ASSERT_TRUE(Listening(kComputer, veth->local_address()) && Listening(kUser));
    // The rebuilt mailslot port: a datagram is a broadcast message whatever its recipient.
    const Bytes datagram = BytesOf("SERVER\0SOMEONE-ELSE\0shutdown at 5\0");
    ASSERT_TRUE(Eventually([&] {
        return platform::mailslot::Write("MESSNGR", datagram) ==
               platform::mailslot::WriteResult::Written;
    }));
    ASSERT_TRUE(inbox_.WaitCount(1));
    const auto m = inbox_.At(0);
    EXPECT_EQ(m.kind, MessageKind::Broadcast);
    EXPECT_EQ(m.origin + "|" + m.recipient + "|" + m.text, "SERVER|SOMEONE-ELSE|shutdown at 5");
}

// Names compare as they go on the wire: a 16-character host name (its first 15 characters as the
// computer name) and a user of that name are one name, with one port; a user name beyond ASCII is
// registered as senders ask for it.
TEST_F(MessengerTest, NamesAreRegisteredAndComparedInTheirWireForm) {
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

TEST(MessageGroupCounter, CountsUpAndWrapsAfter65535) {
    std::uint16_t last = CMessenger::NextGroupId();
    for (int i = 0; i < 65535; ++i) {
        CMessenger::NextGroupId();
    }
    // 65536 ids after `last` the counter has come full circle.
    EXPECT_EQ(CMessenger::NextGroupId(), last);
}
