// Sessions per second and latency of one whole conversation (connect, session request, one
// message and its reply, close) served through Netbios(), side by side with a minimal responder
// on raw sockets doing the same exchange: the floor. Runs inside a network namespace of its own,
// on loopback, with a fixed number of sessions, in rounds that alternate floor and stack. Also
// the decoders' speed.
//
// Every thread runs on one CPU unless --unpinned is given: the stack hands each session from its
// own thread to the listening thread, one hand-over more than the floor, and on a small (virtual)
// machine whose other CPU is busy with unrelated work or asleep, where the scheduler happens to
// put that thread decides the figure more than the stack's own work does.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/netbios/ncb.h"
#include "platform/netbios/stack.h"
#include "platform/netbios/wire/name_service.h"
#include "platform/netbios/wire/session.h"
#include "platform/sync/event.h"
#include "tests/support/network_namespace.h"

namespace nb = platform::netbios;
namespace wire = platform::netbios::wire;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSessions = 2000;
constexpr std::uint16_t kFloorPort = 1139;
const std::uint32_t kLoopback = INADDR_LOOPBACK;

// A single-block message unit as a sender's first message, and the empty reply to it.
std::vector<std::uint8_t> Unit(bool reply) {
    std::vector<std::uint8_t> u;
    u.reserve(96);
    u.resize(32, 0);
    u[0] = 0xFF, u[1] = 'S', u[2] = 'M', u[3] = 'B', u[4] = 0xD0;
    if (reply) {
        u[9] = 0x80;
        u.resize(35, 0);  // no words, no bytes
    } else {
        const char text[] = "\x04SENDER\0\x04RECEIVER\0\x01\x10\0A short message.";
        u.push_back(0);
        u.push_back(sizeof text - 1);
        u.push_back(0);
        u.insert(u.end(), text, text + sizeof text - 1);
    }
    return u;
}

bool WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
        if (r <= 0) {
            return false;
        }
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

bool ReadAll(int fd, std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t r = ::recv(fd, p, n, 0);
        if (r <= 0) {
            return false;
        }
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

std::vector<std::uint8_t> Framed(const std::vector<std::uint8_t>& body) {
    auto h = wire::EncodeSessionHeader(0, static_cast<std::uint32_t>(body.size()));
    std::vector<std::uint8_t> out(h.begin(), h.end());
    out.resize(4 + body.size());
    std::copy(body.begin(), body.end(), out.begin() + 4);
    return out;
}

// The sender side of one session; false when any step failed.
bool OneSession(std::uint16_t port, const std::vector<std::uint8_t>& request,
                const std::vector<std::uint8_t>& message) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(kLoopback);
    std::uint8_t answer[4] = {};
    std::uint8_t header[4] = {};
    std::uint8_t reply[64];
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              WriteAll(fd, request.data(), request.size()) && ReadAll(fd, answer, 4) &&
              answer[0] == wire::session_type::kPositive &&
              WriteAll(fd, message.data(), message.size()) && ReadAll(fd, header, 4);
    const std::size_t len = static_cast<std::size_t>(header[2] << 8 | header[3]);
    ok = ok && len <= sizeof reply && ReadAll(fd, reply, len);
    ::close(fd);
    return ok;
}

struct Figures {
    double rate = 0;
    double p50_us = 0;
    double p99_us = 0;
};
// One entry per round, floor and stack run one after the other in each round so that both see
// the same machine load.
constexpr int kRounds = 3;
Figures floor_figures[kRounds], stack_figures[kRounds];

void RunSenders(benchmark::State& state, std::uint16_t port, Figures& out) {
    const auto request =
        wire::EncodeSessionRequest(wire::MakeName("RECEIVER", 3), wire::MakeName("SENDER", 0));
    const auto message = Framed(Unit(false));
    std::vector<double> latencies;
    latencies.reserve(kSessions);
    const auto start = Clock::now();
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (!OneSession(port, request, message)) {
            state.SkipWithError("a session failed");
            return;
        }
        latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(latencies.begin(), latencies.end());
    out.rate = static_cast<double>(latencies.size()) / seconds;
    out.p50_us = latencies[latencies.size() / 2];
    out.p99_us = latencies[latencies.size() * 99 / 100];
    state.SetItemsProcessed(static_cast<std::int64_t>(latencies.size()));
    state.counters["sessions_per_s"] = out.rate;
    state.counters["p50_us"] = out.p50_us;
    state.counters["p99_us"] = out.p99_us;
}

// The floor: accept, read the request, answer, read one message, reply, close.
void BM_SessionRawResponder(benchmark::State& state, int round) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kFloorPort);
    a.sin_addr.s_addr = htonl(kLoopback);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener, 64) != 0) {
        state.SkipWithError("cannot listen");
        ::close(listener);
        return;
    }
    std::atomic<bool> stop{false};
    std::thread responder([&] {
        const auto positive = wire::EncodePositiveSessionResponse();
        const auto reply = Framed(Unit(true));
        std::uint8_t buffer[1024];
        while (!stop) {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) {
                continue;
            }
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::uint8_t h[4];
            if (ReadAll(fd, h, 4) && ReadAll(fd, buffer, h[3]) &&
                WriteAll(fd, positive.data(), positive.size()) && ReadAll(fd, h, 4)) {
                const std::size_t len = static_cast<std::size_t>(h[2] << 8 | h[3]);
                if (len <= sizeof buffer && ReadAll(fd, buffer, len)) {
                    WriteAll(fd, reply.data(), reply.size());
                }
            }
            ::close(fd);
        }
    });
    RunSenders(state, kFloorPort, floor_figures[round]);
    stop = true;
    responder.join();
    ::close(listener);
}

nb::NCB Ncb(std::uint8_t command, std::uint8_t lana) {
    nb::NCB ncb;
    ncb.ncb_command = command;
    ncb.ncb_lana_num = lana;
    auto name = wire::MakeName("RECEIVER", 3);
    std::memcpy(ncb.ncb_name, name.data(), name.size());
    std::memset(ncb.ncb_callname, ' ', sizeof ncb.ncb_callname);
    return ncb;
}

// The same exchange served as the reception ports do it: an asynchronous listen waited on with
// its event, a receive, a send and a hang-up per session, all through Netbios().
void BM_SessionThroughNetbios(benchmark::State& state, int round) {
    nb::Stack::Config config;
    config.interfaces = {"lo"};
    config.computer_name = "BENCH";
    auto stack = std::make_shared<nb::Stack>(config);
    nb::SetProcessStack(stack);
    std::uint8_t lana = 0xFF;
    for (const auto& adapter : stack->Adapters()) {
        lana = adapter.lana;
    }
    auto add = Ncb(nb::NCBADDNAME, lana);
    if (lana == 0xFF || nb::Netbios(&add) != nb::NRC_GOODRET) {
        state.SkipWithError("cannot register the name");
        nb::SetProcessStack(nullptr);
        return;
    }
    std::atomic<bool> stop{false};
    std::thread responder([&] {
        platform::Event done;
        const auto reply = Unit(true);
        std::uint8_t buffer[1024];
        while (!stop) {
            done.Clear();
            auto listen = Ncb(nb::NCBLISTEN | nb::ASYNCH, lana);
            listen.ncb_callname[0] = '*';
            listen.ncb_event = &done;
            if (nb::Netbios(&listen) == nb::NRC_PENDING) {
                platform::Event* e[] = {&done};
                platform::WaitAny(e, platform::kInfinite);
            }
            if (listen.ncb_retcode != nb::NRC_GOODRET) {
                continue;
            }
            auto recv = Ncb(nb::NCBRECV, lana);
            recv.ncb_lsn = listen.ncb_lsn;
            recv.ncb_buffer = buffer;
            recv.ncb_length = sizeof buffer;
            if (nb::Netbios(&recv) == nb::NRC_GOODRET) {
                auto send = Ncb(nb::NCBSEND, lana);
                send.ncb_lsn = listen.ncb_lsn;
                send.ncb_buffer = const_cast<std::uint8_t*>(reply.data());
                send.ncb_length = static_cast<std::uint16_t>(reply.size());
                nb::Netbios(&send);
            }
            auto hangup = Ncb(nb::NCBHANGUP, lana);
            hangup.ncb_lsn = listen.ncb_lsn;
            nb::Netbios(&hangup);
        }
    });
    RunSenders(state, 139, stack_figures[round]);
    stop = true;
    auto del = Ncb(nb::NCBDELNAME, lana);
    nb::Netbios(&del);  // ends the pending listen
    responder.join();
    nb::SetProcessStack(nullptr);
}

void BM_DecodeNameServicePacket(benchmark::State& state) {
    const auto packet =
        wire::EncodeRegistrationRequest(1, wire::MakeName("ALICE", 3), 0x0A000001, false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(wire::DecodeNsPacket(packet));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * packet.size()));
}
BENCHMARK(BM_DecodeNameServicePacket);

void BM_SessionStreamReader(benchmark::State& state) {
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < 64; ++i) {
        auto m = Framed(Unit(false));
        stream.insert(stream.end(), m.begin(), m.end());
    }
    for (auto _ : state) {
        wire::SessionStreamReader reader(65536);
        std::span<const std::uint8_t> rest(stream);
        std::size_t messages = 0;
        while (!rest.empty()) {
            auto step = reader.Next(rest, 1024);
            messages += step.status == wire::SessionStreamReader::Status::MessageEnd;
            rest = rest.subspan(step.consumed);
        }
        benchmark::DoNotOptimize(messages);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_SessionStreamReader);

}  // namespace

int main(int argc, char** argv) {
    // Before any thread: the stack binds the real NetBIOS ports, which only ever happens here.
    if (!tolvane::test::EnterPrivateNetworkNamespace()) {
        std::fprintf(stderr, "skipped: needs a private network namespace (run as root)\n");
        return 0;
    }
    for (int round = 0; round < kRounds; ++round) {
        const std::string suffix = "/round:" + std::to_string(round + 1);
        benchmark::RegisterBenchmark(("BM_SessionRawResponder" + suffix).c_str(),
                                     BM_SessionRawResponder, round)
            ->Iterations(kSessions)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("BM_SessionThroughNetbios" + suffix).c_str(),
                                     BM_SessionThroughNetbios, round)
            ->Iterations(kSessions)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
    }
    bool pinned = true;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--unpinned") {
            pinned = false;
            std::copy(argv + i + 1, argv + argc, argv + i);
            --argc;
            break;
        }
    }
    if (pinned) {
        cpu_set_t one_cpu;
        CPU_ZERO(&one_cpu);
        CPU_SET(static_cast<int>(::sched_getcpu()), &one_cpu);
        ::sched_setaffinity(0, sizeof one_cpu, &one_cpu);  // threads made later inherit it
    }
    std::printf("threads %s\n", pinned ? "on one CPU" : "where the scheduler puts them");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Figures best_floor, best_stack;
    for (int round = 0; round < kRounds; ++round) {
        const Figures& f = floor_figures[round];
        const Figures& n = stack_figures[round];
        if (f.rate <= 0 || n.rate <= 0) {
            continue;
        }
        std::printf(
            "round %d: raw responder %.0f sessions/s (p50 %.1f us, p99 %.1f us), Netbios() %.0f "
            "sessions/s (p50 %.1f us, p99 %.1f us), ratio %.2f\n",
            round + 1, f.rate, f.p50_us, f.p99_us, n.rate, n.p50_us, n.p99_us, n.rate / f.rate);
        best_floor = f.rate > best_floor.rate ? f : best_floor;
        best_stack = n.rate > best_stack.rate ? n : best_stack;
    }
    if (best_floor.rate > 0 && best_stack.rate > 0) {
        std::printf(
            "best of rounds: raw responder %.0f/s, Netbios() %.0f/s, ratio %.2f "
            "(target >= 0.50)\n",
            best_floor.rate, best_stack.rate, best_stack.rate / best_floor.rate);
    }
    return 0;
}
