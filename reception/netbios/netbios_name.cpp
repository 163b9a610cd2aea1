#include "reception/netbios/netbios_name.h"

#include <algorithm>
#include <array>

#include "platform/codepage/codepage.h"
#include "reception/netbios/ncb_names.h"
#include "reception/netbios/netbios_network.h"

namespace nb = platform::netbios;
using netbios_fields::BlankNcb;
using netbios_fields::kMessengerSuffix;
using netbios_fields::SetName;

CNetbiosName::CNetbiosName(std::string name, std::uint8_t suffix, TlNetbiosInterface* interface,
                           int open_retry_ms)
    : CPort(open_retry_ms),
      wire_name_(platform::codepage::NetbiosName(name).value_or(std::string())),
      name_(platform::codepage::OemToUtf8(wire_name_)),
      suffix_(suffix),
      lana_(interface->lana()),
      interface_(interface) {}

CNetbiosName::~CNetbiosName() {
    Shutdown();
}

bool CNetbiosName::IsUnusableName(std::uint8_t code) {
    static constexpr std::array<std::uint8_t, 13> kCodes = {
        nb::NRC_NORES,       nb::NRC_NAMTFUL,   nb::NRC_NOWILD,     nb::NRC_INUSE,   nb::NRC_NAMERR,
        nb::NRC_BRIDGE,      nb::NRC_ENVNOTDEF, nb::NRC_OSRESNOTAV, nb::NRC_MAXAPPS, nb::NRC_NOSAPS,
        nb::NRC_NORESOURCES, nb::NRC_OPENERR,   nb::NRC_SYSTEM};
    return std::find(kCodes.begin(), kCodes.end(), code) != kCodes.end();
}

void CNetbiosName::Start() {
    listen_event_.Clear();
    CPort::Start();
}

void CNetbiosName::DeleteName() {
    nb::NCB ncb = BlankNcb(nb::NCBDELNAME, lana_);
    SetName(ncb.ncb_name, wire_name_, kMessengerSuffix);
    nb::Netbios(&ncb);
}

bool CNetbiosName::TryOpen() {
    if (wire_name_.empty()) {
        return false;
    }
    // A registration left over from an earlier port must not block this one.
    DeleteName();
    nb::NCB ncb = BlankNcb(nb::NCBADDNAME, lana_);
    SetName(ncb.ncb_name, wire_name_, suffix_);
    opened_ = nb::Netbios(&ncb) == nb::NRC_GOODRET;
    return opened_;
}

void CNetbiosName::Close() {
    DeleteName();
    opened_ = false;
}

void CNetbiosName::InterruptForStop() {
    // Completes a pending listen and aborts the name's sessions, so the port thread returns.
    DeleteName();
}

void CNetbiosName::Listen() {
    listen_ncb_ = BlankNcb(nb::NCBLISTEN | nb::ASYNCH, lana_);
    SetName(listen_ncb_.ncb_name, wire_name_, kMessengerSuffix);
    SetName(listen_ncb_.ncb_callname, "*", ' ');
    listen_ncb_.ncb_rto = 0;
    listen_ncb_.ncb_sto = 0;
    listen_ncb_.ncb_event = &listen_event_;
    listen_event_.Clear();

    std::uint8_t code = nb::Netbios(&listen_ncb_);
    if (code == nb::NRC_PENDING) {
        platform::Event* events[] = {&listen_event_};
        if (!thread().Wait(events, platform::kInfinite)) {
            // Stop requested: deleting the name completes the listen, which must be waited for
            // because the stack still holds the control block.
            DeleteName();
            platform::WaitAny(events, platform::kInfinite);
        }
        code = listen_ncb_.ncb_retcode;
    }
    listen_event_.Clear();

    if (code == nb::NRC_GOODRET) {
        Announce(std::make_unique<CNetbiosConnection>(
            this, netbios_fields::FieldText(listen_ncb_.ncb_callname), listen_ncb_.ncb_lsn));
    } else if (IsUnusableName(code)) {
        opened_ = false;
    } else {
        thread().Sleep(kListenFailurePauseMs);
    }
}

bool CNetbiosName::ReceiveData(CConnection* connection, CDataBuffer& buffer) {
    auto* c = static_cast<CNetbiosConnection*>(connection);
    buffer.Reset();
    nb::NCB ncb = BlankNcb(nb::NCBRECV, lana_);
    ncb.ncb_lsn = c->lsn();
    ncb.ncb_buffer = buffer.Data();
    SetName(ncb.ncb_name, wire_name_, kMessengerSuffix);
    std::uint8_t code;
    do {
        // An empty session message carries no unit: the next one is the unit.
        ncb.ncb_length = CDataBuffer::kCapacity;
        code = nb::Netbios(&ncb);
    } while (code == nb::NRC_GOODRET && ncb.ncb_length == 0);
    if (code != nb::NRC_GOODRET) {
        // Includes a message longer than the buffer: no unit of these exchanges is, so the
        // conversation is not one we can follow.
        return false;
    }
    buffer.SetLength(std::min<int>(ncb.ncb_length, CDataBuffer::kCapacity));
    return true;
}

bool CNetbiosName::ReceivePdu(CConnection* connection, CProtocolDataUnit& pdu) {
    CDataBuffer buffer;
    return ReceiveData(connection, buffer) && pdu.Decode(buffer);
}

bool CNetbiosName::SendData(CConnection* connection, const CDataBuffer& buffer) {
    auto* c = static_cast<CNetbiosConnection*>(connection);
    // The stack only reads the buffer; the control block's field is not const.
    CDataBuffer copy = buffer;
    nb::NCB ncb = BlankNcb(nb::NCBSEND, lana_);
    ncb.ncb_lsn = c->lsn();
    ncb.ncb_buffer = copy.Data();
    ncb.ncb_length = static_cast<std::uint16_t>(copy.Length());
    SetName(ncb.ncb_name, wire_name_, kMessengerSuffix);
    return nb::Netbios(&ncb) == nb::NRC_GOODRET;
}

bool CNetbiosName::SendPdu(CConnection* connection, CProtocolDataUnit& pdu) {
    CDataBuffer buffer;
    pdu.Encode(buffer);
    return SendData(connection, buffer);
}

void CNetbiosName::CloseConnection(CConnection* connection) {
    auto* c = static_cast<CNetbiosConnection*>(connection);
    nb::NCB ncb = BlankNcb(nb::NCBHANGUP, lana_);
    ncb.ncb_lsn = c->lsn();
    SetName(ncb.ncb_name, wire_name_, kMessengerSuffix);
    nb::Netbios(&ncb);
    RemoveConnection(connection);
}

CConnection* CNetbiosName::Connect(std::string_view remote_name) {
    std::string remote = platform::codepage::NetbiosName(remote_name).value_or(std::string());
    if (remote.empty() || wire_name_.empty()) {
        return nullptr;
    }
    nb::NCB ncb = BlankNcb(nb::NCBCALL, lana_);
    SetName(ncb.ncb_callname, remote, kMessengerSuffix);
    SetName(ncb.ncb_name, wire_name_, suffix_);
    ncb.ncb_rto = 0;
    ncb.ncb_sto = 0;
    if (nb::Netbios(&ncb) != nb::NRC_GOODRET) {
        return nullptr;
    }
    auto connection = std::make_unique<CNetbiosConnection>(this, remote, ncb.ncb_lsn);
    CConnection* c = connection.get();
    AddConnection(std::move(connection));
    return c;
}
