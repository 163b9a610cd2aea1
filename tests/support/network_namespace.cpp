#include "tests/support/network_namespace.h"

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

extern char** environ;

namespace tolvane::test {
namespace {

using Clock = std::chrono::steady_clock;

std::once_flag namespace_once;
bool in_private_namespace = false;
std::atomic<int> next_peer{0};

bool BringLoopbackUp() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (ok) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    ::close(fd);
    return ok;
}

// Only loopback: the namespace is really a fresh one.
bool OnlyLoopback() {
    struct if_nameindex* list = ::if_nameindex();
    if (list == nullptr) {
        return false;
    }
    bool only = true;
    for (struct if_nameindex* i = list; i->if_index != 0; ++i) {
        only = only && std::strcmp(i->if_name, "lo") == 0;
    }
    ::if_freenameindex(list);
    return only;
}

// Starts argv with stdout and stderr into a pipe; returns the pid (or -1) and the read end.
int Spawn(const std::vector<std::string>& argv, int& read_fd, const char* input_path = nullptr) {
    int pipe_fds[2];
    if (argv.empty() || ::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        return -1;
    }
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input_path ? input_path : "/dev/null",
                                     O_RDONLY, 0);
    pid_t pid = -1;
    const int r = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    if (r != 0) {
        ::close(pipe_fds[0]);
        return -1;
    }
    read_fd = pipe_fds[0];
    return pid;
}

// Reads what is there within timeout_ms; false at end of output.
bool ReadSome(int fd, std::string& out, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) {
        return true;
    }
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        out.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    return n < 0 && errno == EINTR;
}

void RemoveStaleNamespaces() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/run/netns", ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("tlvt")) {
            continue;
        }
        const int pid = std::atoi(name.c_str() + 4);
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH) {
            RunCommand({"ip", "netns", "del", name}, std::chrono::seconds(5));
        }
    }
}

}  // namespace

bool EnterPrivateNetworkNamespace() {
    std::call_once(namespace_once, [] {
        if (::unshare(CLONE_NEWNET) != 0) {
            return;
        }
        in_private_namespace = BringLoopbackUp() && OnlyLoopback();
    });
    return in_private_namespace;
}

bool InPrivateNetworkNamespace() {
    return in_private_namespace;
}

CommandResult RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    return RunCommandWithInput(argv, {}, timeout);
}

CommandResult RunCommandWithInput(const std::vector<std::string>& argv, const std::string& input,
                                  std::chrono::milliseconds timeout) {
    CommandResult result;
    std::string input_path;
    if (!input.empty()) {
        char path[] = "/tmp/tolvane-input-XXXXXX";
        const int in = ::mkstemp(path);
        if (in < 0 ||
            ::write(in, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
            if (in >= 0) {
                ::close(in);
                ::unlink(path);
            }
            result.output = "cannot write the input";
            return result;
        }
        ::close(in);
        input_path = path;
    }
    struct Remove {
        const std::string& path;
        ~Remove() {
            if (!path.empty()) {
                ::unlink(path.c_str());
            }
        }
    } remove{input_path};
    int fd = -1;
    const int pid = Spawn(argv, fd, input_path.empty() ? nullptr : input_path.c_str());
    if (pid < 0) {
        result.output = "cannot start " + (argv.empty() ? std::string() : argv[0]);
        return result;
    }
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline && ReadSome(fd, result.output, 50)) {
    }
    ::close(fd);
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        // Output closed but the program lives on, or time ran out: give it until the deadline.
        while (Clock::now() < deadline && ::waitpid(pid, &status, WNOHANG) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (::waitpid(pid, &status, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.timed_out = true;
            return result;
        }
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool CommandExists(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return false;
}

std::unique_ptr<BackgroundProcess> BackgroundProcess::Start(const std::vector<std::string>& argv) {
    std::unique_ptr<BackgroundProcess> p(new BackgroundProcess);
    p->pid_ = Spawn(argv, p->output_fd_);
    if (p->pid_ < 0) {
        return nullptr;
    }
    return p;
}

void BackgroundProcess::Drain(int timeout_ms) {
    if (output_fd_ >= 0 && !ReadSome(output_fd_, output_, timeout_ms)) {
        ::close(output_fd_);
        output_fd_ = -1;
    }
}

bool BackgroundProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
        if (Clock::now() >= deadline || output_fd_ < 0) {
            return false;
        }
        Drain(50);
    }
    return true;
}

CommandResult BackgroundProcess::Stop(int signal_number) {
    CommandResult result;
    if (pid_ > 0 && !ended_) {
        ::kill(pid_, signal_number);
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (::waitpid(pid_, &status_, WNOHANG) == 0) {
            if (Clock::now() >= deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status_, 0);
                result.timed_out = true;
                break;
            }
            Drain(20);
        }
        ended_ = true;
    }
    while (output_fd_ >= 0) {
        Drain(200);
    }
    result.exit_code = !result.timed_out && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    result.output = output_;
    return result;
}

BackgroundProcess::~BackgroundProcess() {
    Stop(SIGTERM);
}

std::unique_ptr<VethPeer> VethPeer::Create(int subnet) {
    // Never on the machine's own namespace.
    if (!InPrivateNetworkNamespace() || subnet < 0 || subnet > 255) {
        return nullptr;
    }
    RemoveStaleNamespaces();
    const int pid = static_cast<int>(::getpid());
    const int n = next_peer++;
    std::unique_ptr<VethPeer> peer(new VethPeer);
    peer->ns_ = "tlvt" + std::to_string(pid) + "x" + std::to_string(n);
    peer->local_if_ = "tv" + std::to_string(pid % 1000000) + "a" + std::to_string(n);
    peer->peer_if_ = "tv" + std::to_string(pid % 1000000) + "b" + std::to_string(n);
    peer->prefix_ = "10.211." + std::to_string(subnet);
    const std::vector<std::vector<std::string>> setup = {
        {"ip", "netns", "add", peer->ns_},
        {"ip", "link", "add", peer->local_if_, "type", "veth", "peer", "name", peer->peer_if_,
         "netns", peer->ns_},
        {"ip", "addr", "add", peer->local_address() + "/24", "broadcast", peer->broadcast(), "dev",
         peer->local_if_},
        {"ip", "link", "set", peer->local_if_, "up"},
        {"ip", "netns", "exec", peer->ns_, "ip", "addr", "add", peer->peer_address() + "/24",
         "broadcast", peer->broadcast(), "dev", peer->peer_if_},
        {"ip", "netns", "exec", peer->ns_, "ip", "link", "set", peer->peer_if_, "up"},
        {"ip", "netns", "exec", peer->ns_, "ip", "link", "set", "lo", "up"},
    };
    for (const auto& argv : setup) {
        if (RunCommand(argv, std::chrono::seconds(10)).exit_code != 0) {
            return nullptr;  // the destructor removes what was made
        }
    }
    // The carrier comes up asynchronously once both ends are up.
    for (int i = 0; i < 100; ++i) {
        auto r = RunCommand({"ip", "-o", "link", "show", "dev", peer->local_if_},
                            std::chrono::seconds(3));
        if (r.output.find("LOWER_UP") != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return peer;
}

VethPeer::~VethPeer() {
    if (!ns_.empty()) {
        RunCommand({"ip", "netns", "del", ns_}, std::chrono::seconds(10));
    }
}

std::vector<std::string> VethPeer::ExecArgv(const std::vector<std::string>& argv) const {
    std::vector<std::string> full = {"ip", "netns", "exec", ns_};
    full.insert(full.end(), argv.begin(), argv.end());
    return full;
}

CommandResult VethPeer::Exec(const std::vector<std::string>& argv,
                             std::chrono::milliseconds timeout) const {
    return RunCommand(ExecArgv(argv), timeout);
}

void VethPeer::RunInside(const std::function<void()>& fn) const {
    std::thread worker([&] {
        const std::string path = "/run/netns/" + ns_;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
            if (fd >= 0) {
                ::close(fd);
            }
            std::abort();  // running on in our own namespace would defeat the test
        }
        ::close(fd);
        fn();
    });
    worker.join();
}

}  // namespace tolvane::test
