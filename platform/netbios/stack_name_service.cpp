#include <algorithm>
#include <cstring>

#include "platform/netbios/stack_impl.h"

// The name service packets the stack answers: queries, node status, registrations of names held
// here (defended), conflict demands, and the answers to its own requests and queries.
namespace platform::netbios {

std::optional<wire::NbEntry> Stack::Impl::Resolve(Lock& lock, std::uint8_t lana_number,
                                                  const NetbiosName& name) {
    Lana* lana = FindLana(lana_number);
    if (lana == nullptr) {
        return std::nullopt;
    }
    if (FindHeld(*lana, name) != nullptr) {
        return wire::NbEntry{0, lana->iface.Primary().address};
    }
    if (!name_socket_) {
        return std::nullopt;
    }
    const std::uint16_t id = NextTransactionId();
    queries_[id] = Query{name, std::nullopt};
    const auto request = wire::EncodeQueryRequest(id, name, lana->iface.CanBroadcast());
    for (int i = 0; i < std::max(config_.registration_retries, 1); ++i) {
        lana = FindLana(lana_number);
        if (lana == nullptr || stopping_) {
            break;
        }
        Broadcast(*lana, name_socket_.get(), config_.name_port,
                  [&](const Subnet&) { return request; });
        changed_.wait_until(lock, Clock::now() + config_.registration_interval,
                            [&] { return stopping_ || queries_[id].answer.has_value(); });
        if (queries_[id].answer) {
            break;
        }
    }
    auto answer = queries_[id].answer;
    queries_.erase(id);
    return answer;
}

void Stack::Impl::HandleNameService(std::span<const std::uint8_t> bytes, const UdpSource& from,
                                    Completions& done) {
    if (IsOwnNameServicePacket(from)) {
        return;
    }
    auto packet = wire::DecodeNsPacket(bytes);
    Lana* lana = packet ? LanaForPacket(from) : nullptr;
    if (lana == nullptr || !name_socket_) {
        return;
    }
    const int fd = name_socket_.get();
    // Answers carry, and come from, our address on the asker's subnet: the one it can reach.
    const std::uint32_t here = lana->iface.SubnetFor(from.address, from.destination).address;
    auto reply = [&](const std::vector<std::uint8_t>& answer) {
        SendUdp(fd, answer, from.address, from.port, here, 0);
    };
    const NetbiosName* answered =
        packet->answers.empty() || packet->answers[0].scoped ? nullptr : &packet->answers[0].name;

    if (packet->response()) {
        const std::uint8_t rcode = packet->rcode();
        if (packet->opcode() == wire::NsOpcode::Registration && rcode != 0) {
            for (auto& [name, entry] : lana->names) {
                if (answered != nullptr && *answered != name) {
                    continue;
                }
                // Only an answer to a registration of ours counts: a demand nothing of ours
                // provoked, from anyone, is ignored, as hardened nodes do, so that no host can
                // take the name away by asking for it.
                if (entry.registration_id != packet->trn_id) {
                    continue;
                }
                if (entry.state == NameEntry::State::Registering) {
                    entry.refused = true;  // another node owns it
                    changed_.notify_all();
                } else if (entry.state == NameEntry::State::Held && answered != nullptr &&
                           Clock::now() < entry.late_answers_until) {
                    // Another node answered our claim late: it holds the name too. No longer
                    // ours to defend or to take sessions on; the owner deletes and registers it
                    // again.
                    entry.state = NameEntry::State::Conflict;
                    FailListens(entry, NRC_INUSE, done);
                    RefuseQueued(lana->number, name, wire::session_error::kCalledNotPresent);
                }
            }
        } else if (packet->opcode() == wire::NsOpcode::Query && rcode == 0 && answered) {
            auto q = queries_.find(packet->trn_id);
            if (q != queries_.end() && q->second.name == *answered && !q->second.answer) {
                auto entries = wire::DecodeNbEntries(packet->answers[0].rdata);
                if (!entries.empty()) {
                    q->second.answer = entries[0];
                    changed_.notify_all();
                }
            }
        }
        return;
    }
    if (packet->questions.size() != 1 || packet->questions[0].scoped) {
        return;
    }
    const auto& question = packet->questions[0];
    const NameEntry* held = FindHeld(*lana, question.name);
    // Wildcard and internal names are never claimed or defended on the network.
    const bool defendable = held != nullptr && question.name[0] != '*';
    switch (packet->opcode()) {
        case wire::NsOpcode::Query:
            if (question.type == wire::kTypeNb && defendable) {
                reply(wire::EncodePositiveQueryResponse(packet->trn_id, question.name, here));
            } else if (question.type == wire::kTypeNbstat &&
                       (held != nullptr || wire::IsWildcard(question.name))) {
                std::vector<wire::NodeStatusName> names;
                for (const auto& [name, entry] : lana->names) {
                    if (entry.state == NameEntry::State::Registering) {
                        continue;
                    }
                    std::uint16_t flags = wire::kActiveFlag;
                    if (entry.state == NameEntry::State::Conflict) {
                        flags |= wire::kConflictFlag;
                    }
                    names.push_back({name, flags});
                }
                reply(wire::EncodeNodeStatusResponse(packet->trn_id, question.name, names,
                                                     lana->iface.mac));
            }
            break;
        case wire::NsOpcode::Registration:
        case wire::NsOpcode::Refresh:
        case wire::NsOpcode::RefreshAlt:
            if (defendable) {
                reply(wire::EncodeNegativeRegistrationResponse(packet->trn_id, question.name, here,
                                                               wire::ns_rcode::kActive));
            }
            break;
        default:
            break;  // releases of others' names and anything else need no answer
    }
}

}  // namespace platform::netbios
