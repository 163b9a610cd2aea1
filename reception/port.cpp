#include "reception/port.h"

bool CConnection::ReceivePdu(CProtocolDataUnit& pdu) {
    return port_->ReceivePdu(this, pdu);
}
bool CConnection::ReceiveData(CDataBuffer& buffer) {
    return port_->ReceiveData(this, buffer);
}
bool CConnection::SendPdu(CProtocolDataUnit& pdu) {
    return port_->SendPdu(this, pdu);
}
bool CConnection::SendData(const CDataBuffer& buffer) {
    return port_->SendData(this, buffer);
}
void CConnection::Close() {
    port_->CloseConnection(this);
}

CPort::CPort(int open_retry_ms) : open_retry_ms_(open_retry_ms) {
    thread_.function = &CPort::ServiceLoop;
    thread_.object = this;
}

CPort::~CPort() {
    Shutdown();
}

bool CPort::ReceivePdu(CConnection*, CProtocolDataUnit&) {
    return false;
}
bool CPort::ReceiveData(CConnection*, CDataBuffer&) {
    return false;
}
bool CPort::SendPdu(CConnection*, CProtocolDataUnit&) {
    return false;
}
bool CPort::SendData(CConnection*, const CDataBuffer&) {
    return false;
}
void CPort::CloseConnection(CConnection*) {}
CConnection* CPort::Connect(std::string_view) {
    return nullptr;
}

bool CPort::WaitOpen() {
    for (;;) {
        if (thread_.IsStopRequested()) {
            return false;
        }
        if (opened_ || TryOpen()) {
            return true;
        }
        thread_.Sleep(open_retry_ms_);
    }
}

void CPort::Start() {
    thread_.CreateThread();
}

void CPort::Stop() {
    thread_.Stop();
}

void CPort::ServiceLoop(TlThread* thread) {
    while (!thread->IsStopRequested()) {
        // An open that succeeded just as the stop came must not lead into a listen.
        if (WaitOpen() && !thread->IsStopRequested()) {
            Listen();
        }
    }
}

void CPort::AddConnection(std::unique_ptr<CConnection> connection) {
    connections_.push_back(std::move(connection));
}

void CPort::RemoveConnection(CConnection* connection) {
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->get() == connection) {
            connections_.erase(it);
            return;
        }
    }
}

void CPort::Announce(std::unique_ptr<CConnection> connection) {
    CConnection* c = connection.get();
    AddConnection(std::move(connection));
    if (accept_handler) {
        accept_handler(c);
    }
    if (connection_handler) {
        connection_handler(c);
    }
}

void CPort::Shutdown() {
    if (shut_down_) {
        return;
    }
    shut_down_ = true;
    if (thread_.IsRunning()) {
        thread_.RequestStop();
        InterruptForStop();
    }
    thread_.Stop();
    Close();
    // Conversations a handler left open are released with the port.
    connections_.clear();
}
