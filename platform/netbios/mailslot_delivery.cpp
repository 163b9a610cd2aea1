#include "platform/netbios/mailslot_delivery.h"

namespace platform::netbios {

using platform::mailslot::WriteResult;

MailslotDelivery::MailslotDelivery(WriteFunction write, std::size_t backlog_per_mailslot)
    : write_(std::move(write)), backlog_(backlog_per_mailslot) {}

void MailslotDelivery::Deliver(std::string_view mailslot, std::span<const std::uint8_t> data,
                               Clock::time_point now) {
    const std::string key = platform::mailslot::CanonicalName(mailslot);
    auto it = queues_.find(key);
    if (it == queues_.end()) {
        switch (write_(mailslot, data)) {
            case WriteResult::Written:
                return;
            case WriteResult::WouldBlock:
                break;
            case WriteResult::NoSuchMailslot:
            case WriteResult::Failed:
                ++dropped_;
                return;
        }
        if (queues_.size() >= kMaxQueues || backlog_ == 0) {
            ++dropped_;
            return;
        }
        it = queues_.emplace(key, Queue{std::string(mailslot), {}, now + kRetryInterval}).first;
    }
    if (it->second.datagrams.size() >= backlog_) {
        ++dropped_;
        return;
    }
    it->second.datagrams.emplace_back(data.begin(), data.end());
}

bool MailslotDelivery::Drain(Queue& q, Clock::time_point now) {
    while (!q.datagrams.empty()) {
        switch (write_(q.name, q.datagrams.front())) {
            case WriteResult::Written:
                q.datagrams.pop_front();
                continue;
            case WriteResult::WouldBlock:
                q.next_try = now + kRetryInterval;
                return true;
            case WriteResult::NoSuchMailslot:
            case WriteResult::Failed:
                // The reader is gone: what waits for it has nowhere to go.
                dropped_ += q.datagrams.size();
                return false;
        }
    }
    return false;
}

void MailslotDelivery::Retry(Clock::time_point now) {
    for (auto it = queues_.begin(); it != queues_.end();) {
        if (it->second.next_try > now || Drain(it->second, now)) {
            ++it;
        } else {
            it = queues_.erase(it);
        }
    }
}

std::optional<MailslotDelivery::Clock::time_point> MailslotDelivery::NextRetry() const {
    std::optional<Clock::time_point> next;
    for (const auto& [key, q] : queues_) {
        if (!next || q.next_try < *next) {
            next = q.next_try;
        }
    }
    return next;
}

std::size_t MailslotDelivery::Waiting() const {
    std::size_t n = 0;
    for (const auto& [key, q] : queues_) {
        n += q.datagrams.size();
    }
    return n;
}

}  // namespace platform::netbios
