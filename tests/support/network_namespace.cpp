#include "tests/support/network_namespace.h"

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>

extern char** environ;

namespace tolvane::test {
namespace {

using Clock = std::chrono::steady_clock;

bool in_private_namespace = false;
std::atomic<int> next_peer{0};

// Starts argv with its output into a pipe and no input; returns the pid or -1.
int Spawn(const std::vector<std::string>& argv, int& output_fd) {
    int out[2];
    if (argv.empty() || ::pipe2(out, O_CLOEXEC) != 0) {
        return -1;
    }
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    const int r = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (r != 0) {
        ::close(out[0]);
        return -1;
    }
    output_fd = out[0];
    return pid;
}

// Appends what arrives within timeout_ms; false at the end of the output.
bool ReadSome(int fd, std::string& out, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) {
        return true;
    }
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return n > 0 || (n < 0 && errno == EINTR);
}

// Waits for the process until the deadline, then kills it; the exit code or -1.
int Reap(int pid, Clock::time_point deadline, bool& timed_out) {
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            timed_out = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool EnterPrivateNetworkNamespace() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (::unshare(CLONE_NEWNET) != 0) {
            return;
        }
        // A fresh namespace has loopback only.
        struct if_nameindex* list = ::if_nameindex();
        in_private_namespace = list != nullptr && list[0].if_index != 0 && list[1].if_index == 0 &&
                               RunCommand({"ip", "link", "set", "lo", "up"}).exit_code == 0;
        if (list != nullptr) {
            ::if_freenameindex(list);
        }
    });
    return in_private_namespace;
}

bool InPrivateNetworkNamespace() {
    return in_private_namespace;
}

CommandResult RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    CommandResult result;
    int fd = -1;
    const int pid = Spawn(argv, fd);
    if (pid < 0) {
        result.output = "cannot start " + (argv.empty() ? std::string() : argv[0]);
        return result;
    }
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline && ReadSome(fd, result.output, 50)) {
    }
    ::close(fd);
    result.exit_code = Reap(pid, deadline, result.timed_out);
    return result;
}

bool CommandExists(const std::string& program) {
    return RunCommand({"sh", "-c", "command -v \"$0\"", program}).exit_code == 0;
}

std::unique_ptr<BackgroundProcess> BackgroundProcess::Start(const std::vector<std::string>& argv) {
    std::unique_ptr<BackgroundProcess> p(new BackgroundProcess);
    p->pid_ = Spawn(argv, p->output_fd_);
    return p->pid_ < 0 ? nullptr : std::move(p);
}

bool BackgroundProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
        if (Clock::now() >= deadline || output_fd_ < 0) {
            return false;
        }
        if (!ReadSome(output_fd_, output_, 50)) {
            ::close(std::exchange(output_fd_, -1));
        }
    }
    return true;
}

CommandResult BackgroundProcess::Stop(int signal_number) {
    if (!ended_) {
        ended_ = true;
        ::kill(pid_, signal_number);
        stopped_.exit_code = Reap(pid_, Clock::now() + std::chrono::seconds(2), stopped_.timed_out);
        while (output_fd_ >= 0 && ReadSome(output_fd_, output_, 200)) {
        }
        if (output_fd_ >= 0) {
            ::close(output_fd_);
        }
        stopped_.output = output_;
    }
    return stopped_;
}

BackgroundProcess::~BackgroundProcess() {
    Stop(SIGTERM);
}

std::unique_ptr<VethPeer> VethPeer::Create(int subnet) {
    // Never on the machine's own namespace.
    if (!InPrivateNetworkNamespace() || subnet < 0 || subnet > 255) {
        return nullptr;
    }
    // Namespaces left by crashed test processes ("tlvt<pid>x<n>").
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/run/netns", ec)) {
        const std::string name = entry.path().filename().string();
        const int pid = name.starts_with("tlvt") ? std::atoi(name.c_str() + 4) : 0;
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH) {
            RunCommand({"ip", "netns", "del", name});
        }
    }
    const std::string pid = std::to_string(::getpid());
    const std::string tag = pid.substr(pid.size() > 6 ? pid.size() - 6 : 0);  // names <= 15
    const std::string n = std::to_string(next_peer++);
    std::unique_ptr<VethPeer> peer(new VethPeer);
    peer->ns_ = "tlvt" + pid + "x" + n;
    peer->local_if_ = "tv" + tag + "a" + n;
    peer->peer_if_ = "tv" + tag + "b" + n;
    peer->prefix_ = "10.211." + std::to_string(subnet);
    const std::vector<std::string> in_peer = {"ip", "netns", "exec", peer->ns_};
    auto there = [&](std::vector<std::string> argv) {
        argv.insert(argv.begin(), in_peer.begin(), in_peer.end());
        return argv;
    };
    for (const auto& argv : std::vector<std::vector<std::string>>{
             {"ip", "netns", "add", peer->ns_},
             {"ip", "link", "add", peer->local_if_, "type", "veth", "peer", "name", peer->peer_if_,
              "netns", peer->ns_},
             {"ip", "addr", "add", peer->local_address() + "/24", "brd", "+", "dev",
              peer->local_if_},
             {"ip", "link", "set", peer->local_if_, "up"},
             there({"ip", "addr", "add", peer->peer_address() + "/24", "brd", "+", "dev",
                    peer->peer_if_}),
             there({"ip", "link", "set", peer->peer_if_, "up"}),
             there({"ip", "link", "set", "lo", "up"})}) {
        if (RunCommand(argv).exit_code != 0) {
            return nullptr;  // the destructor removes what was made
        }
    }
    // The carrier comes up asynchronously once both ends are up.
    for (int i = 0; i < 100; ++i) {
        if (RunCommand({"ip", "link", "show", "dev", peer->local_if_}).output.find("LOWER_UP") !=
            std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return peer;
}

VethPeer::~VethPeer() {
    // The pair goes with the namespace only later, in the background: delete it first.
    RunCommand({"ip", "link", "del", local_if_});
    RunCommand({"ip", "netns", "del", ns_});
}

CommandResult VethPeer::Exec(const std::vector<std::string>& argv,
                             std::chrono::milliseconds timeout) const {
    std::vector<std::string> full = {"ip", "netns", "exec", ns_};
    full.insert(full.end(), argv.begin(), argv.end());
    return RunCommand(full, timeout);
}

void VethPeer::RunInside(const std::function<void()>& fn) const {
    std::thread worker([&] {
        const int fd = ::open(("/run/netns/" + ns_).c_str(), O_RDONLY | O_CLOEXEC);
        // Running on in our own namespace would defeat the test.
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
            std::abort();
        }
        ::close(fd);
        fn();
    });
    worker.join();
}

}  // namespace tolvane::test
