#pragma once

#include <optional>
#include <string>

#include "platform/mailslot/mailslot.h"
#include "reception/port.h"

// One datagram waiting in the port's mailslot, or an open write handle on another mailslot.
class CMailslotConnection : public CConnection {
  public:
    // A received datagram, read through the port's own mailslot.
    explicit CMailslotConnection(CPort* port) : CConnection(port) {}
    // An outgoing connection to the mailslot of remote_name.
    CMailslotConnection(CPort* port, std::string remote_name, platform::mailslot::Writer writer)
        : CConnection(port), remote_name_(std::move(remote_name)), writer_(std::move(writer)) {}

    const std::string& remote_name() const { return remote_name_; }
    bool outgoing() const { return writer_.has_value(); }
    platform::mailslot::Writer* writer() { return writer_ ? &*writer_ : nullptr; }

  private:
    std::string remote_name_;
    std::optional<platform::mailslot::Writer> writer_;
};

// The port of a local mailslot: waits on it while open and announces each waiting datagram as a
// connection that the handler reads with ReceivePdu and closes.
class CMailslot : public CPort {
  public:
    // How long the port waits on its mailslot before it looks again unasked. A datagram, a stop
    // and the end of the mailslot's delivery each end the wait at once, so by default it has no
    // limit.
    static constexpr int kPollMs = platform::kInfinite;

    explicit CMailslot(std::string name, int open_retry_ms = kOpenRetryMs, int poll_ms = kPollMs);
    ~CMailslot() override;

    bool ReceivePdu(CConnection* connection, CProtocolDataUnit& pdu) override;
    bool ReceiveData(CConnection* connection, CDataBuffer& buffer) override;
    bool SendPdu(CConnection* connection, CProtocolDataUnit& pdu) override;
    bool SendData(CConnection* connection, const CDataBuffer& buffer) override;
    void CloseConnection(CConnection* connection) override;
    void Listen() override;
    bool TryOpen() override;
    void Close() override;
    // Opens this port's mailslot on the computer named for writing ("." is this computer).
    CConnection* Connect(std::string_view remote_name) override;

    const std::string& name() const { return name_; }

  private:
    std::string name_;
    int poll_ms_;
    std::optional<platform::mailslot::Mailslot> mailslot_;
};
