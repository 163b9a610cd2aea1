#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "reception/port.h"
#include "reception/service/received_message.h"
#include "reception/thread.h"

class TlNetwork;

// The reception service: owns every listening port, rebuilds them all whenever the NetBIOS
// adapters change (a port for the computer name and one for the user name per adapter, then the
// Messenger mailslot port), reads each conversation to its end, answering where the protocol
// asks for it, and hands each finished message to the owner's callback on the port's thread.
class CMessenger {
  public:
    using MessageCallback = std::function<void(ReceivedMessage)>;

    struct Options {
        // Empty: this computer's and this user's names.
        std::string computer_name;
        std::string user_name;
        std::string mailslot_name = "MESSNGR";
        int open_retry_ms = CPort::kOpenRetryMs;
        int mailslot_poll_ms = platform::kInfinite;  // see CMailslot::kPollMs
    };

    CMessenger();
    explicit CMessenger(Options options);
    ~CMessenger();
    CMessenger(const CMessenger&) = delete;
    CMessenger& operator=(const CMessenger&) = delete;

    // Both set before Start. The callback may run on several port threads at once.
    void SetCallback(MessageCallback callback) { callback_ = std::move(callback); }
    void SetNetwork(TlNetwork* network) { network_ = network; }

    void Start();
    // Asks the service thread to rebuild every port; any thread may call it.
    void Refresh() { refresh_.Set(); }
    // Destroys every port and ends the service thread. The owner calls it before it releases the
    // network, so that no rebuild can read a released network; destruction calls it too.
    void Stop();

    // The names as given or found (not yet in their wire form).
    const std::string& computer_name() const { return computer_name_; }
    const std::string& user_name() const { return user_name_; }
    // Number of ports built (for tests and diagnostics).
    std::size_t PortCount() const { return port_count_.load(); }
    // Number of rebuilds finished.
    std::size_t RebuildCount() const { return rebuilds_.load(); }

    // The text kept of one multi-block message; blocks past it are answered and dropped.
    static constexpr std::size_t kMaxMessageText = 64 * 1024;

    // The next message group id: 1 for the first multi-block message of the run, wrapping after
    // 65535 to 0. Shared by every port.
    static std::uint16_t NextGroupId();

  private:
    // Every port the service built, in the order built; changed by the service thread only.
    class PortList : public std::vector<std::unique_ptr<CPort>>, public TlShareableObject {};

    void ServiceLoop(TlThread* thread);
    // False when a port could not be made (the process is out of descriptors or threads).
    bool OpenPorts();
    void ClosePorts();
    bool AddPort(const std::function<std::unique_ptr<CPort>()>& make);
    void OnConnection(CConnection* connection);
    std::optional<ReceivedMessage> ReadSmbSession(CConnection* connection);
    std::optional<ReceivedMessage> ReadSingleBlock(CConnection* connection,
                                                   const CDataBuffer& first);
    std::optional<ReceivedMessage> ReadMultiBlock(CConnection* connection,
                                                  const CDataBuffer& first);
    std::optional<ReceivedMessage> ReadDatagram(CConnection* connection);

    Options options_;
    std::string computer_name_;
    std::string user_name_;
    MessageCallback callback_;
    TlNetwork* network_ = nullptr;
    PortList ports_;
    std::atomic<std::size_t> port_count_{0};
    std::atomic<std::size_t> rebuilds_{0};
    platform::Event refresh_{platform::Event::Mode::AutoReset};
    TlThreadClassFunction<CMessenger> thread_;
};
