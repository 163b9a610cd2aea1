#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Anything that binds the NetBIOS ports or starts a NetBIOS stack runs only inside network
// namespaces the test creates itself (loopback and veth pairs), never on the machine's network.
// A socket belongs to the namespace of the thread that made it: make fixture sockets in SetUp,
// after entering. Commands run without a shell, bounded in time, stdout and stderr captured.
namespace tolvane::test {

// Moves the process (this thread and all it starts later) into a fresh network namespace with
// loopback up. Call it before starting threads; later calls return the first result. False when
// not permitted (not root): skip the test.
bool EnterPrivateNetworkNamespace();
bool InPrivateNetworkNamespace();

struct CommandResult {
    int exit_code = -1;  // -1: could not start, killed, or timed out
    bool timed_out = false;
    std::string output;
};

// Runs argv[0] (from PATH), without input, and waits at most timeout.
CommandResult RunCommand(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20));
bool CommandExists(const std::string& program);

// A program left running (a capture), stopped with the signal (SIGKILL after two seconds).
class BackgroundProcess {
  public:
    static std::unique_ptr<BackgroundProcess> Start(const std::vector<std::string>& argv);
    ~BackgroundProcess();
    // Waits until the output contains text; false on time-out or when the program ended.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    CommandResult Stop(int signal_number);

  private:
    BackgroundProcess() = default;
    int pid_ = -1;
    int output_fd_ = -1;
    std::string output_;
    CommandResult stopped_;
    bool ended_ = false;
};

// A veth pair from the private namespace to a named one made for it, deleted with the object:
//   here:  local_interface(), 10.211.<subnet>.1/24     there: peer_interface(), .2/24, lo up
class VethPeer {
  public:
    static std::unique_ptr<VethPeer> Create(int subnet);
    ~VethPeer();

    const std::string& local_interface() const { return local_if_; }
    const std::string& peer_interface() const { return peer_if_; }
    std::string local_address() const { return prefix_ + ".1"; }
    std::string peer_address() const { return prefix_ + ".2"; }
    std::string broadcast() const { return prefix_ + ".255"; }

    // Runs a command inside the peer namespace.
    CommandResult Exec(const std::vector<std::string>& argv,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    // Runs fn on a thread inside the peer namespace; sockets and threads it makes (a stack's
    // among them) stay there.
    void RunInside(const std::function<void()>& fn) const;

  private:
    VethPeer() = default;
    std::string ns_;
    std::string local_if_;
    std::string peer_if_;
    std::string prefix_;
};

}  // namespace tolvane::test
