#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <string_view>

#include "reception/connection.h"
#include "reception/data_buffer.h"
#include "reception/protocol_data_unit.h"
#include "reception/thread.h"

// A listening endpoint with its own thread: opens its platform endpoint (retrying every
// open_retry_ms while that fails), then listens for one conversation at a time and announces each
// to its handlers, which run on the port's thread and end the conversation before returning.
class CPort {
  public:
    using Handler = std::function<void(CConnection*)>;
    static constexpr int kOpenRetryMs = 3000;

    explicit CPort(int open_retry_ms = kOpenRetryMs);
    virtual ~CPort();
    CPort(const CPort&) = delete;
    CPort& operator=(const CPort&) = delete;

    virtual bool ReceivePdu(CConnection* connection, CProtocolDataUnit& pdu);
    virtual bool ReceiveData(CConnection* connection, CDataBuffer& buffer);
    virtual bool SendPdu(CConnection* connection, CProtocolDataUnit& pdu);
    virtual bool SendData(CConnection* connection, const CDataBuffer& buffer);
    virtual void CloseConnection(CConnection* connection);
    // Waits for one incoming conversation and announces it.
    virtual void Listen() {}
    // Opens the endpoint unless it is open, retrying until it opens or the stop is requested.
    virtual bool WaitOpen();
    // One attempt to open the platform endpoint; sets and returns the opened flag.
    virtual bool TryOpen() { return false; }
    virtual void Close() {}
    // Opens an outgoing conversation to a named remote endpoint; nullptr on failure.
    virtual CConnection* Connect(std::string_view remote_name);
    virtual void Start();
    virtual void Stop();

    // Set by the creator before Start; either may stay empty.
    Handler accept_handler;
    Handler connection_handler;

    void AddConnection(std::unique_ptr<CConnection> connection);
    // Unlinks and destroys the connection; does nothing when it is not registered.
    void RemoveConnection(CConnection* connection);

    bool IsOpen() const { return opened_.load(); }
    std::size_t ConnectionCount() const { return connections_.size(); }

  protected:
    // Registers the new conversation and calls the accept, then the connection handler.
    void Announce(std::unique_ptr<CConnection> connection);
    // Called from every transport's destructor: asks the thread to stop, interrupts whatever it
    // may be blocked in, waits for it to end, closes the endpoint and drops the connections.
    void Shutdown();
    // Makes a blocking Listen or receive return after the stop request (the NetBIOS port deletes
    // its name). Runs on the destroying thread.
    virtual void InterruptForStop() {}

    TlThread& thread() { return thread_; }
    std::atomic<bool> opened_{false};

  private:
    void ServiceLoop(TlThread* thread);

    TlThreadClassFunction<CPort> thread_;
    int open_retry_ms_;
    std::list<std::unique_ptr<CConnection>> connections_;
    bool shut_down_ = false;
};
