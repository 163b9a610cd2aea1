#pragma once

#include <cstdint>
#include <string>

#include "platform/netbios/ncb.h"
#include "platform/sync/event.h"
#include "reception/port.h"

class TlNetbiosInterface;

// One NetBIOS session on a name port.
class CNetbiosConnection : public CConnection {
  public:
    CNetbiosConnection(CPort* port, std::string remote_name, std::uint8_t lsn)
        : CConnection(port), remote_name_(std::move(remote_name)), lsn_(lsn) {}

    // The caller's 16-byte name as the listen reported it, or the name that was called.
    const std::string& remote_name() const { return remote_name_; }
    std::uint8_t lsn() const { return lsn_; }

  private:
    std::string remote_name_;
    std::uint8_t lsn_;
};

// The port of one NetBIOS name on one adapter: registers the name, listens for sessions to it
// from any caller and announces each session as a connection.
class CNetbiosName : public CPort {
  public:
    // After a listen failed for a passing reason, the next one waits this long, so that a
    // stack that keeps failing cannot make the port spin.
    static constexpr int kListenFailurePauseMs = 100;

    CNetbiosName(std::string name, std::uint8_t suffix, TlNetbiosInterface* interface,
                 int open_retry_ms = kOpenRetryMs);
    ~CNetbiosName() override;

    bool ReceivePdu(CConnection* connection, CProtocolDataUnit& pdu) override;
    bool ReceiveData(CConnection* connection, CDataBuffer& buffer) override;
    bool SendPdu(CConnection* connection, CProtocolDataUnit& pdu) override;
    bool SendData(CConnection* connection, const CDataBuffer& buffer) override;
    void CloseConnection(CConnection* connection) override;
    void Listen() override;
    bool TryOpen() override;
    void Close() override;
    CConnection* Connect(std::string_view remote_name) override;
    void Start() override;

    // The name as it reads on the wire (upper case), and its OEM bytes there; both empty when
    // the name has no wire form, and the port then never opens.
    const std::string& name() const { return name_; }
    const std::string& wire_name() const { return wire_name_; }
    std::uint8_t suffix() const { return suffix_; }
    std::uint8_t lana() const { return lana_; }
    TlNetbiosInterface* interface() const { return interface_; }

    // Return codes after which the name's registration is no longer usable.
    static bool IsUnusableName(std::uint8_t code);

  protected:
    void InterruptForStop() override;

  private:
    void DeleteName();

    std::string wire_name_;
    std::string name_;
    std::uint8_t suffix_;
    std::uint8_t lana_;
    TlNetbiosInterface* interface_;
    platform::Event listen_event_{platform::Event::Mode::ManualReset};
    // Owned by the stack while a listen is pending, so it lives with the port.
    platform::netbios::NCB listen_ncb_;
};
