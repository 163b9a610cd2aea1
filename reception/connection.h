#pragma once

class CPort;
class CProtocolDataUnit;
class CDataBuffer;

// One conversation on a port: a small handle whose every operation is carried out by its port.
// The transports derive their own connection classes, which add only data.
class CConnection {
  public:
    explicit CConnection(CPort* port) : port_(port) {}
    virtual ~CConnection() = default;
    CConnection(const CConnection&) = delete;
    CConnection& operator=(const CConnection&) = delete;

    // Each returns whether the transport operation succeeded; a failed receive ends an exchange.
    virtual bool ReceivePdu(CProtocolDataUnit& pdu);
    virtual bool ReceiveData(CDataBuffer& buffer);
    virtual bool SendPdu(CProtocolDataUnit& pdu);
    virtual bool SendData(const CDataBuffer& buffer);
    // Ends the conversation and releases the connection: nothing may use it afterwards.
    virtual void Close();

    CPort* port() const { return port_; }

  private:
    CPort* port_;
};
