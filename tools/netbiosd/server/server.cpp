#include "tools/netbiosd/server/server.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "tools/netbiosd/server/pending_listen.h"

namespace platform::netbios::service {

namespace {

constexpr int kAcceptsPerTurn = 16;
constexpr std::chrono::milliseconds kAcceptPause{100};

}  // namespace

Server::Server(Stack& stack, UniqueFd listener, Options options)
    : stack_(stack),
      listener_(std::move(listener)),
      options_(std::move(options)),
      workers_(std::make_unique<WorkerPool>(options_.limits.workers)),
      routes_(options_.routes ? options_.routes : std::make_shared<DatagramRoutes>()) {
    if (!options_.computer_name.empty()) {
        shared_name_ = wire::MakeName(options_.computer_name, kMessengerSuffix);
    }
    ::fcntl(listener_.get(), F_SETFL, ::fcntl(listener_.get(), F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
}

Server::~Server() {
    {
        std::lock_guard lock(posted_mutex_);
        stopping_ = true;
    }
    wake_.Set();
    thread_.join();
    // The service's thread has ended: its state is this thread's now.
    while (!clients_.empty()) {
        CutOff(clients_.begin()->first, {});
    }
    // With every name gone every listen has completed, but the stack's thread may still be in
    // the completion routine of one.
    for (const auto& [listen, entry] : listens_) {
        while (!listen->finished) {
            std::this_thread::yield();
        }
    }
    // Work still running (an add aborted by the deletions above, a call) ends; what it posts
    // back is dropped.
    workers_.reset();
}

std::size_t Server::ClientCount() const {
    std::lock_guard lock(posted_mutex_);
    return client_count_;
}

void Server::Log(const std::string& line) const {
    if (options_.log) {
        options_.log(line);
    }
}

void Server::Post(std::function<void()> fn, bool wake) {
    {
        std::lock_guard lock(posted_mutex_);
        if (stopping_) {
            return;
        }
        posted_.push_back(std::move(fn));
    }
    if (wake) {
        wake_.Set();
    }
}

bool Server::RunPosted() {
    std::deque<std::function<void()>> work;
    {
        std::lock_guard lock(posted_mutex_);
        if (stopping_) {
            return false;
        }
        work.swap(posted_);
    }
    for (auto& fn : work) {
        fn();
    }
    return true;
}

Server::Client* Server::Find(std::uint64_t id) {
    auto it = clients_.find(id);
    return it != clients_.end() && !it->second->channel->Broken() ? it->second.get() : nullptr;
}

void Server::Run() {
    ::pthread_setname_np(::pthread_self(), "netbios-serve");
    PollSet set;
    for (;;) {
        if (!RunPosted()) {
            return;
        }
        CutOffBroken();
        std::vector<NameKey> keys;
        for (const auto& [key, entry] : shared_) {
            keys.push_back(key);
        }
        for (const auto& key : keys) {
            ListenOnStack(key);
        }
        const int timeout = FillPollSet(set);
        if (::poll(set.fds.data(), set.fds.size(), timeout) < 0) {
            continue;
        }
        // Completions posted without a wake-up are settled before the requests that follow them.
        if (!RunPosted()) {
            return;
        }
        if (set.fds[0].revents) {
            wake_.TryConsume();
        }
        if (set.fds[1].revents) {
            Accept();
        }
        ServeClients(set);
        ServeRelays(set);
    }
}

void Server::CutOffBroken() {
    std::vector<std::uint64_t> doomed;
    for (const auto& [id, c] : clients_) {
        if (c->channel->Broken()) {
            doomed.push_back(id);
        }
    }
    for (auto id : doomed) {
        CutOff(id, "it does not take its answers");
    }
}

int Server::FillPollSet(PollSet& set) const {
    const bool accepting = std::chrono::steady_clock::now() >= accept_paused_until_;
    set.fds.assign({{wake_.fd(), POLLIN, 0},
                    {listener_.get(), static_cast<short>(accepting ? POLLIN : 0), 0}});
    set.ids.clear();
    for (const auto& [id, c] : clients_) {
        // Requests wait in the socket until the program's user is known.
        const short events =
            static_cast<short>((c->policy ? POLLIN : 0) | (c->channel->Waiting() ? POLLOUT : 0));
        set.fds.push_back({c->channel->fd(), events, 0});
        set.ids.push_back(id);
    }
    set.relays_from = set.fds.size();
    set.relays = relays_.size();
    auto next = NextSharedDeadline();
    if (!accepting) {
        next = next ? std::min(*next, accept_paused_until_) : accept_paused_until_;
    }
    for (const auto& r : relays_) {
        r->Fill(set.fds);
        next = next ? std::min(*next, r->deadline()) : r->deadline();
    }
    return PollTimeout(next.value_or(std::chrono::steady_clock::time_point::max()));
}

void Server::ServeClients(const PollSet& set) {
    for (std::size_t i = 2; i < set.relays_from; ++i) {
        const short revents = set.fds[i].revents;
        const std::uint64_t id = set.ids[i - 2];
        Client* c = revents ? Find(id) : nullptr;
        if (c == nullptr) {
            continue;
        }
        const ReadResult read = (revents & POLLIN) ? ReadRequests(*c) : ReadResult::Read;
        if (read == ReadResult::Garbage) {
            CutOff(id, "it sent what is not a request");
        } else if (read == ReadResult::Gone) {
            CutOff(id, {});
        } else if ((revents & (POLLERR | POLLHUP)) && !(revents & POLLIN)) {
            CutOff(id, {});  // gone
        } else if ((revents & POLLOUT) && !c->channel->Flush()) {
            CutOff(id, {});
        }
    }
}

void Server::ServeRelays(const PollSet& set) {
    // Relays started meanwhile have no descriptors polled yet.
    const auto now = std::chrono::steady_clock::now();
    std::vector<bool> over(set.relays, false);
    for (std::size_t r = 0, at = set.relays_from; r < set.relays; ++r) {
        const std::size_t n = relays_[r]->Programs() + 1;
        over[r] = !relays_[r]->Handle(std::span(set.fds).subspan(at, n), now);
        at += n;
    }
    for (std::size_t r = set.relays; r-- > 0;) {
        if (over[r]) {
            relays_.erase(relays_.begin() + static_cast<std::ptrdiff_t>(r));
        }
    }
}

void Server::Accept() {
    for (int i = 0; i < kAcceptsPerTurn; ++i) {
        UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: the waiting connections wait rather than spin this thread.
                accept_paused_until_ = std::chrono::steady_clock::now() + kAcceptPause;
            }
            return;
        }
        ucred cred{};
        socklen_t size = sizeof cred;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0) {
            continue;
        }
        if (!Admits(Kind::Unknown, cred.uid)) {
            LogRefusal(cred.uid, "refused a program (pid " + std::to_string(cred.pid) + ", uid " +
                                     std::to_string(cred.uid) + "): too many programs");
            continue;
        }
        auto client = std::make_unique<Client>();
        client->id = next_client_++;
        client->channel = std::make_shared<Channel>(std::move(fd), options_.limits.replies);
        client->pid = cred.pid;
        client->uid = cred.uid;
        const std::uint64_t id = client->id;
        clients_[id] = std::move(client);
        {
            std::lock_guard lock(posted_mutex_);
            client_count_ = clients_.size();
        }
        // The user database may have to ask over the network: not on this thread.
        const uid_t uid = cred.uid;
        workers_->Post([this, id, uid] {
            auto account = AccountOf(uid);
            Post([this, id, account] { Classify(id, account); });
        });
    }
}

}  // namespace platform::netbios::service
