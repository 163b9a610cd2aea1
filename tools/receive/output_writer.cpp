#include "tools/receive/output_writer.h"

#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

// Kept when the output cannot take the messages; past it only a count.
constexpr std::size_t kMaxNotes = 1000;

// Writes all of text; false (errno set) when the output failed.
bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A pipe takes a line of at most PIPE_BUF bytes whole, without waiting, once it has that much
// room; other outputs are left to the writer's thread.
bool IsPipe(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
}

bool PipeHasRoom(int fd) {
    pollfd p{fd, POLLOUT, 0};
    return ::poll(&p, 1, 0) == 1 && p.revents == POLLOUT;
}

}  // namespace

void OutputWriter::State::Note(const std::string& why, const std::string& note) {
    if (notes.size() < kMaxNotes) {
        notes.push_back(note + " (" + why + ")");
    } else {
        ++more_notes;
    }
    attention.Set();
}

OutputWriter::OutputWriter(int fd, std::size_t max_pending)
    : fd_(fd),
      pipe_(IsPipe(fd)),
      max_pending_(max_pending),
      state_(std::make_shared<State>()),
      thread_([state = state_, fd] { Run(state, fd); }) {}

OutputWriter::~OutputWriter() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->changed.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void OutputWriter::Run(const std::shared_ptr<State>& state, int fd) {
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->changed.wait(lock, [&] { return state->stopping || !state->queue.empty(); });
        if (state->queue.empty()) {
            return;
        }
        // Entries only ever leave from this thread, so the front stays put while unlocked.
        const Entry& entry = state->queue.front();
        lock.unlock();
        const bool written = WriteAll(fd, entry.line);
        const int error = errno;
        lock.lock();
        if (!written) {
            state->error = error != 0 ? error : EIO;
            for (const auto& e : state->queue) {
                state->Note("output closed", e.note);
            }
            state->queue.clear();
            state->pending = 0;
            state->changed.notify_all();
            return;
        }
        state->pending -= entry.line.size();
        state->queue.pop_front();
        state->changed.notify_all();
    }
}

void OutputWriter::Add(std::string line, std::string note) {
    std::lock_guard lock(state_->mutex);
    if (state_->error != 0 || state_->stopping) {
        state_->Note(state_->error != 0 ? "output closed" : "output stalled", note);
        return;
    }
    if (state_->pending + line.size() > max_pending_) {
        state_->Note("output not read", note);
        return;
    }
    // Nothing waiting and room for all of it: written here, which spares the writer's thread a
    // wake-up per message.
    if (pipe_ && state_->queue.empty() && line.size() <= PIPE_BUF && PipeHasRoom(fd_)) {
        if (!WriteAll(fd_, line)) {
            state_->error = errno != 0 ? errno : EIO;
            state_->Note("output closed", note);
            state_->changed.notify_all();
        }
        return;
    }
    state_->pending += line.size();
    state_->queue.push_back({std::move(line), std::move(note)});
    state_->changed.notify_all();
}

bool OutputWriter::Drain(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(state_->mutex);
    state_->changed.wait_until(lock, deadline,
                               [&] { return state_->queue.empty() || state_->error != 0; });
    return state_->queue.empty() && state_->error == 0;
}

void OutputWriter::Abandon() {
    {
        std::lock_guard lock(state_->mutex);
        for (const auto& e : state_->queue) {
            state_->Note("output stalled", e.note);
        }
        // The entry being written stays for the thread; it sees the stop when its write ends.
        if (!state_->queue.empty()) {
            state_->queue.erase(state_->queue.begin() + 1, state_->queue.end());
        }
        state_->stopping = true;
    }
    state_->changed.notify_all();
    thread_.detach();
}

std::vector<std::string> OutputWriter::TakeNotes(std::size_t& more) {
    std::lock_guard lock(state_->mutex);
    more = std::exchange(state_->more_notes, 0);
    return std::exchange(state_->notes, {});
}

int OutputWriter::error() const {
    std::lock_guard lock(state_->mutex);
    return state_->error;
}

void WriteNotes(int fd, const std::vector<std::string>& notes, std::size_t more,
                std::chrono::steady_clock::time_point deadline) {
    std::vector<std::string> lines;
    for (const auto& note : notes) {
        lines.push_back("tolvane-receive: not written: " + note + "\n");
    }
    if (more > 0) {
        lines.push_back("tolvane-receive: not written: " + std::to_string(more) +
                        " more messages\n");
    }
    for (const auto& line : lines) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLOUT, 0};
        // A short line goes out whole once there is room.
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1 ||
            !WriteAll(fd, line)) {
            return;
        }
    }
}
