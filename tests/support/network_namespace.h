#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Test support for anything that binds the NetBIOS ports or starts a NetBIOS stack: such code
// runs only inside network namespaces the test creates itself, with loopback and veth pairs, so
// nothing ever reaches the machine's real interfaces.
//
//   TEST(X, Y) {
//       if (!tolvane::test::EnterPrivateNetworkNamespace()) GTEST_SKIP() << "needs root";
//       auto peer = tolvane::test::VethPeer::Create(1);     // 10.211.1.1 here, .2 in the peer
//       if (!peer) GTEST_SKIP() << "cannot create veth pairs";
//       peer->RunInside([&] { /* sockets made here (and threads started here) live there */ });
//       auto r = peer->Exec({"nmblookup", "-B", peer->broadcast(), "NAME#03"});
//   }
//
// Commands run without a shell, bounded in time; their output (stdout and stderr) is captured.
//
// A socket belongs to the namespace of the thread that made it: fixture members holding sockets
// are made before SetUp runs, so make them in SetUp after entering (std::optional helps). A
// NetBIOS stack made inside RunInside keeps its thread, sockets and local mailslots in the peer
// namespace and takes commands from any thread.
namespace tolvane::test {

// Moves the calling thread, and every thread and process it creates later, into a network
// namespace of its own whose only interface is loopback, brought up. Call it first thing in a
// test, before the test starts threads. Later calls return the first result. False when the
// process may not do this (not root, or namespaces not permitted): the test should skip.
bool EnterPrivateNetworkNamespace();
// Whether EnterPrivateNetworkNamespace succeeded in this process.
bool InPrivateNetworkNamespace();

struct CommandResult {
    int exit_code = -1;  // -1: could not start, killed, or timed out
    bool timed_out = false;
    std::string output;  // stdout and stderr together
};

// Runs argv[0] (looked up in PATH) with its arguments and waits at most timeout.
CommandResult RunCommand(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20));
// The same with input as the program's standard input.
CommandResult RunCommandWithInput(const std::vector<std::string>& argv, const std::string& input,
                                  std::chrono::milliseconds timeout = std::chrono::seconds(20));
// Whether the program is found in PATH.
bool CommandExists(const std::string& program);

// A program left running in the background (a capture, a slow peer), stopped with SIGTERM when
// the object goes (SIGKILL if it does not end within two seconds).
class BackgroundProcess {
  public:
    static std::unique_ptr<BackgroundProcess> Start(const std::vector<std::string>& argv);
    ~BackgroundProcess();
    // Waits until the program's output contains text; false on time-out or when it ended.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    // Stops it (signal, then wait) and returns what it printed.
    CommandResult Stop(int signal_number);

  private:
    BackgroundProcess() = default;
    void Drain(int timeout_ms);
    int pid_ = -1;
    int output_fd_ = -1;
    std::string output_;
    bool ended_ = false;
    int status_ = 0;
};

// A veth pair from the private namespace to a second, named namespace created for it:
//   here:  interface local_interface(), address 10.211.<subnet>.1/24, up
//   there: interface peer_interface(),  address 10.211.<subnet>.2/24, up; loopback up
// Both namespaces exist only for the test; the named one (and with it the pair) is deleted when
// the object goes. Namespaces left by crashed test processes are removed on the next Create.
// Requires EnterPrivateNetworkNamespace() to have succeeded.
class VethPeer {
  public:
    static std::unique_ptr<VethPeer> Create(int subnet);
    ~VethPeer();

    const std::string& namespace_name() const { return ns_; }
    const std::string& local_interface() const { return local_if_; }
    const std::string& peer_interface() const { return peer_if_; }
    std::string local_address() const { return prefix_ + ".1"; }
    std::string peer_address() const { return prefix_ + ".2"; }
    std::string broadcast() const { return prefix_ + ".255"; }

    // Runs a command inside the peer namespace (ip netns exec).
    CommandResult Exec(const std::vector<std::string>& argv,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    std::vector<std::string> ExecArgv(const std::vector<std::string>& argv) const;
    // Runs fn on a thread that has joined the peer namespace and waits for it. Sockets it makes,
    // and threads it starts (a NetBIOS stack's thread among them), belong to the peer namespace
    // and keep doing so after fn returns.
    void RunInside(const std::function<void()>& fn) const;

  private:
    VethPeer() = default;
    std::string ns_;
    std::string local_if_;
    std::string peer_if_;
    std::string prefix_;
};

}  // namespace tolvane::test
