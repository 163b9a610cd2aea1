#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sync/event.h"

// Writes the lines of received messages on a thread of its own, so that a reader that stops
// reading never holds up reception: the port threads only queue, or write a line themselves
// where the output is a pipe with room for all of it and nothing is waiting before it. Every
// message has been acknowledged to its sender by then, so what cannot be written (the output
// closed, more than max_pending bytes already waiting, or still waiting when the program must end)
// leaves a note instead: one line naming kind, sender, recipient and time, for standard error.
class OutputWriter {
  public:
    OutputWriter(int fd, std::size_t max_pending);
    // Waits for the thread unless it was abandoned.
    ~OutputWriter();
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;

    // Never waits for the output. note: "personal message from A to B, received T".
    void Add(std::string line, std::string note);
    // Waits until everything queued is written, the output failed or the deadline passed; true
    // when everything was written.
    bool Drain(std::chrono::steady_clock::time_point deadline);
    // Leaves what is still queued unwritten (its notes are kept) and the thread to itself, which
    // may be stuck in a write for good.
    void Abandon();
    // The notes gathered since the last call, and how many more did not fit their bound.
    std::vector<std::string> TakeNotes(std::size_t& more);
    // The errno of the write that failed, 0 while the output works.
    int error() const;
    // Set when notes are waiting or the output failed.
    platform::Event& attention() { return state_->attention; }

  private:
    struct Entry {
        std::string line;
        std::string note;
    };
    // Shared with the thread, which may outlive this object once abandoned.
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<Entry> queue;  // the front one is being written
        std::size_t pending = 0;  // bytes in the queue
        std::vector<std::string> notes;
        std::size_t more_notes = 0;
        int error = 0;
        bool stopping = false;
        platform::Event attention{platform::Event::Mode::AutoReset};

        void Note(const std::string& why, const std::string& note);
    };
    static void Run(const std::shared_ptr<State>& state, int fd);

    const int fd_;
    const bool pipe_;
    std::size_t max_pending_;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

// Writes the notes to fd as lines "tolvane-receive: not written: ...", giving up at the deadline
// (standard error may be stalled too).
void WriteNotes(int fd, const std::vector<std::string>& notes, std::size_t more,
                std::chrono::steady_clock::time_point deadline);
