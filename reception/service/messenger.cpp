#include "reception/service/messenger.h"

#include <algorithm>
#include <system_error>
#include <typeinfo>

#include "platform/codepage/codepage.h"
#include "platform/system/system.h"
#include "platform/text/utf8.h"
#include "reception/mailslot/mailslot.h"
#include "reception/mailslot/mailslot_pdu.h"
#include "reception/netbios/netbios_name.h"
#include "reception/netbios/netbios_network.h"
#include "reception/network.h"
#include "reception/smb/smb_pdu.h"
#include "reception/smb/smb_pdu_sendend.h"
#include "reception/smb/smb_pdu_sends.h"
#include "reception/smb/smb_pdu_sendstrt.h"
#include "reception/smb/smb_pdu_sendtxt.h"

namespace {

constexpr std::uint8_t kMessengerNameType = 0x03;

std::atomic<std::uint16_t> g_group_counter{0};

// Appends what fits of block below the text cap, cut at a character boundary; false once the
// cap is reached, so that nothing from later blocks lands after a gap.
bool AppendCapped(std::string& text, const std::string& block) {
    const std::string_view fits =
        platform::text::Utf8Prefix(block, CMessenger::kMaxMessageText - text.size());
    text += fits;
    return fits.size() == block.size();
}

}  // namespace

std::uint16_t CMessenger::NextGroupId() {
    return static_cast<std::uint16_t>(g_group_counter.fetch_add(1) + 1);
}

CMessenger::CMessenger() : CMessenger(Options{}) {}

CMessenger::CMessenger(Options options) : options_(std::move(options)) {
    computer_name_ =
        options_.computer_name.empty() ? platform::system::ComputerName() : options_.computer_name;
    user_name_ = options_.user_name.empty() ? platform::system::UserName() : options_.user_name;
    thread_.function = &CMessenger::ServiceLoop;
    thread_.object = this;
}

CMessenger::~CMessenger() {
    Stop();
}

void CMessenger::Start() {
    thread_.CreateThread();
}

void CMessenger::Stop() {
    thread_.Stop();
}

void CMessenger::ServiceLoop(TlThread* thread) {
    platform::Event* refresh[] = {&refresh_};
    bool complete = true;
    while (!thread->IsStopRequested()) {
        // A rebuild that could not make every port is tried again after the open pause.
        const bool refreshed =
            thread->Wait(refresh, complete ? platform::kInfinite : options_.open_retry_ms);
        if ((refreshed || !complete) && !thread->IsStopRequested()) {
            ClosePorts();
            complete = OpenPorts();
            ++rebuilds_;
        }
    }
    ClosePorts();
}

bool CMessenger::AddPort(const std::function<std::unique_ptr<CPort>()>& make) {
    // Out of descriptors, a port's events or thread cannot be made: no reason to end the program.
    std::unique_ptr<CPort> port;
    try {
        port = make();
    } catch (const std::system_error&) {
        return false;
    }

    port->accept_handler = [](CConnection*) {};
    port->connection_handler = [this](CConnection* c) { OnConnection(c); };
    CPort* p = port.get();
    ports_.push_back(std::move(port));
    port_count_ = ports_.size();
    try {
        p->Start();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool CMessenger::OpenPorts() {
    if (network_ == nullptr) {
        return true;
    }
    // Names are compared as they go on the wire: a host name cut to 15 bytes and a user of the
    // same name are one name, and two ports for it would take its registration from each other
    // in turn. A name with no wire form gets no port.
    namespace cp = platform::codepage;
    const auto computer = cp::NetbiosName(computer_name_);
    const auto user = cp::NetbiosName(user_name_);
    bool complete = true;
    {
        std::lock_guard guard(network_->lock());
        for (const auto& entry : network_->current()) {
            auto* interface = dynamic_cast<TlNetbiosInterface*>(entry.get());
            if (interface == nullptr) {
                continue;
            }
            interface->Reset();
            auto name_port = [&](const std::string& name) {
                return AddPort([&] {
                    return std::make_unique<CNetbiosName>(name, kMessengerNameType, interface,
                                                          options_.open_retry_ms);
                });
            };
            if (computer) {
                complete = name_port(computer_name_) && complete;
            }
            if (user && user != computer) {
                complete = name_port(user_name_) && complete;
            }
        }
    }
    return AddPort([&] {
               return std::make_unique<CMailslot>(options_.mailslot_name, options_.open_retry_ms,
                                                  options_.mailslot_poll_ms);
           }) &&
           complete;
}

void CMessenger::ClosePorts() {
    // Destroying a port stops its thread and closes its endpoint.
    for (auto& port : ports_) {
        port.reset();
    }
    ports_.clear();
    port_count_ = 0;
}

void CMessenger::OnConnection(CConnection* connection) {
    std::optional<ReceivedMessage> message;
    const std::type_info& type = typeid(*connection);
    if (type == typeid(CNetbiosConnection)) {
        message = ReadSmbSession(connection);
    } else if (type == typeid(CMailslotConnection)) {
        message = ReadDatagram(connection);
    } else {
        connection->Close();
    }
    if (message && callback_) {
        callback_(*message);
    }
}

std::optional<ReceivedMessage> CMessenger::ReadSmbSession(CConnection* connection) {
    CDataBuffer first;
    CSmbPdu header;
    if (!connection->ReceiveData(first) || !header.Decode(first)) {
        connection->Close();
        return std::nullopt;
    }
    switch (header.command) {
        case smb::kSendSingleBlock:
            return ReadSingleBlock(connection, first);
        case smb::kSendStart:
            return ReadMultiBlock(connection, first);
        default:
            connection->Close();
            return std::nullopt;
    }
}

std::optional<ReceivedMessage> CMessenger::ReadSingleBlock(CConnection* connection,
                                                           const CDataBuffer& first) {
    CSmbPdu_sends unit;
    unit.Decode(first);
    ReceivedMessage message{MessageKind::Personal, unit.origin, unit.recipient, unit.text};
    CSmbPdu_sends reply;
    reply.Reset();
    connection->SendPdu(reply);
    connection->Close();
    return message;
}

std::optional<ReceivedMessage> CMessenger::ReadMultiBlock(CConnection* connection,
                                                          const CDataBuffer& first) {
    CSmbPdu_sendstrt start;
    start.Decode(first);
    ReceivedMessage message{MessageKind::Personal, start.origin, start.recipient, {}};

    CSmbPdu_sendstrt start_reply;
    start_reply.Reset();
    start_reply.word_count = 1;
    start_reply.words[0] = NextGroupId();
    connection->SendPdu(start_reply);

    CSmbPdu_sendtxt text;
    bool room = true;
    while (connection->ReceivePdu(text) && text.command == smb::kSendText) {
        // Every block is answered; what comes past the cap is dropped.
        room = room && AppendCapped(message.text, text.text);
        CSmbPdu_sendtxt text_reply;
        text_reply.Reset();
        if (!connection->SendPdu(text_reply)) {
            break;
        }
    }
    CSmbPdu_sendend end_reply;
    end_reply.Reset();
    connection->SendPdu(end_reply);
    connection->Close();
    return message;
}

std::optional<ReceivedMessage> CMessenger::ReadDatagram(CConnection* connection) {
    CMailslotPdu datagram;
    bool read = connection->ReceivePdu(datagram);
    connection->Close();
    // Nothing read (the datagram vanished or the mailslot failed): no message rather than an
    // empty one that nobody sent.
    if (!read) {
        return std::nullopt;
    }
    return ReceivedMessage{MessageKind::Broadcast, datagram.origin, datagram.recipient,
                           datagram.text};
}
