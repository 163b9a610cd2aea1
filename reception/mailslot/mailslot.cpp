#include "reception/mailslot/mailslot.h"

#include "platform/codepage/codepage.h"
#include "platform/system/system.h"
#include "reception/mailslot/messenger_mailslot.h"

CMailslot::CMailslot(std::string name, int open_retry_ms, int poll_ms)
    : CPort(open_retry_ms), name_(std::move(name)), poll_ms_(poll_ms) {}

CMailslot::~CMailslot() {
    Shutdown();
}

bool CMailslot::TryOpen() {
    mailslot_ = platform::mailslot::Mailslot::Create(name_, kMessengerMaxDatagram);
    if (mailslot_) {
        // Whatever waited before the port opened is not for this run.
        CDataBuffer scratch;
        for (auto info = mailslot_->GetInfo(); info && info->waiting > 0;
             info = mailslot_->GetInfo()) {
            mailslot_->Read({scratch.Data(), CDataBuffer::kCapacity});
        }
    }
    opened_ = mailslot_.has_value();
    return opened_;
}

void CMailslot::Close() {
    mailslot_.reset();
    opened_ = false;
}

void CMailslot::Listen() {
    auto info = mailslot_ ? mailslot_->GetInfo() : std::nullopt;
    if (!info) {
        Close();
        return;
    }
    if (info->waiting > 0) {
        Announce(std::make_unique<CMailslotConnection>(this));
        return;
    }
    // The mailslot is a descriptor: wait on it together with the stop event. When its delivery
    // ends, its lease wakes this wait and the next look finds it gone.
    thread().WaitReadable(mailslot_->fd(), poll_ms_);
}

bool CMailslot::ReceiveData(CConnection* connection, CDataBuffer& buffer) {
    buffer.Reset();
    auto* c = static_cast<CMailslotConnection*>(connection);
    if (c->outgoing() || !mailslot_) {
        return false;
    }
    auto info = mailslot_->GetInfo();
    if (!info || info->waiting == 0) {
        return false;
    }
    auto n = mailslot_->Read({buffer.Data(), CDataBuffer::kCapacity});
    if (!n) {
        return false;
    }
    buffer.SetLength(static_cast<int>(*n));
    return true;
}

bool CMailslot::ReceivePdu(CConnection* connection, CProtocolDataUnit& pdu) {
    CDataBuffer buffer;
    if (!ReceiveData(connection, buffer)) {
        return false;
    }
    return pdu.Decode(buffer);
}

bool CMailslot::SendData(CConnection* connection, const CDataBuffer& buffer) {
    auto* writer = static_cast<CMailslotConnection*>(connection)->writer();
    return writer && writer->Write(buffer.Bytes()) == platform::mailslot::WriteResult::Written;
}

bool CMailslot::SendPdu(CConnection* connection, CProtocolDataUnit& pdu) {
    CDataBuffer buffer;
    pdu.Encode(buffer);
    return SendData(connection, buffer);
}

void CMailslot::CloseConnection(CConnection* connection) {
    RemoveConnection(connection);
}

CConnection* CMailslot::Connect(std::string_view remote_name) {
    // Only this computer's mailslots can be reached: "." or its name, compared as on the wire.
    namespace cp = platform::codepage;
    const auto remote = cp::NetbiosName(remote_name);
    if (remote_name != "." &&
        (!remote || remote != cp::NetbiosName(platform::system::ComputerName()))) {
        return nullptr;
    }
    auto writer = platform::mailslot::Writer::Open(name_);
    if (!writer) {
        return nullptr;
    }
    auto connection =
        std::make_unique<CMailslotConnection>(this, std::string(remote_name), std::move(*writer));
    CConnection* c = connection.get();
    AddConnection(std::move(connection));
    return c;
}
