#include <algorithm>
#include <cstring>

#include "platform/netbios/ncb_dispatch.h"
#include "platform/netbios/stack_impl.h"
#include "platform/netbios/wire/session.h"

// Names: adding (broadcast registration), deleting, resetting and enumerating adapters, and the
// name service packets the stack answers: queries, node status, registrations of names held here
// (defended), conflict demands, and the answers to its own requests.
namespace platform::netbios {
namespace {

std::uint8_t NextNumber(std::uint8_t& next) {
    const std::uint8_t n = next;
    next = static_cast<std::uint8_t>(next % 254 + 1);
    return n;
}

}  // namespace

Stack::Impl::Lana* Stack::Impl::FindLana(std::uint8_t number) {
    auto it = lanas_.find(number);
    return it != lanas_.end() && it->second.present ? &it->second : nullptr;
}

Stack::Impl::NameEntry* Stack::Impl::FindHeld(Lana& lana, const NetbiosName& name) {
    auto it = lana.names.find(name);
    return it != lana.names.end() && it->second.state == NameEntry::State::Held ? &it->second
                                                                                : nullptr;
}

const Stack::Impl::Lana* Stack::Impl::LanaForAddress(std::uint32_t address) const {
    for (const auto& [n, lana] : lanas_) {
        if (lana.present && lana.iface.HasAddress(address)) {
            return &lana;
        }
    }
    return nullptr;
}

Stack::Impl::Lana* Stack::Impl::LanaForAddress(std::uint32_t address) {
    return const_cast<Lana*>(std::as_const(*this).LanaForAddress(address));
}

Stack::Impl::Lana* Stack::Impl::LanaForPacket(const UdpSource& from) {
    // Sent to one of our addresses: that address's adapter, even when it came in over loopback
    // from a program on this machine. Broadcasts: the interface they arrived on.
    if (Lana* lana = LanaForAddress(from.destination)) {
        return lana;
    }
    for (auto& [n, lana] : lanas_) {
        if (lana.present && static_cast<int>(lana.iface.index) == from.interface_index) {
            return &lana;
        }
    }
    return nullptr;
}

bool Stack::Impl::IsOwnNameServicePacket(const UdpSource& from) const {
    // Our broadcasts come back to our own socket.
    return from.port == config_.name_port && LanaForAddress(from.address) != nullptr;
}

std::uint16_t Stack::Impl::NextTransactionId() {
    return next_transaction_id_++;
}

bool Stack::Impl::Broadcast(const Lana& lana, int fd, std::uint16_t port,
                            const PacketFor& packet_for) {
    if (fd < 0) {
        return false;
    }
    bool sent = true;
    for (const Subnet& subnet : lana.iface.subnets) {
        const int index = subnet.broadcast != 0 ? static_cast<int>(lana.iface.index) : 0;
        sent = SendUdp(fd, packet_for(subnet), subnet.BroadcastTarget(), port, subnet.address,
                       index) &&
               sent;
    }
    return sent;
}

void Stack::Impl::BroadcastRelease(const Lana& lana, const NetbiosName& name,
                                   std::uint16_t trn_id) {
    Broadcast(lana, name_socket_.get(), config_.name_port, [&](const Subnet& subnet) {
        return wire::EncodeReleaseRequest(trn_id, name, subnet.address);
    });
}

void Stack::Impl::CompleteListen(NameEntry& entry, std::size_t index, std::uint8_t code,
                                 Completions& done) {
    PendingListen p = std::move(entry.listens[index]);
    entry.listens.erase(entry.listens.begin() + static_cast<std::ptrdiff_t>(index));
    if (p.sync) {
        p.ncb->ncb_retcode = code;
        p.ncb->ncb_cmd_cplt = code;
        p.sync->done = true;
        changed_.notify_all();
    } else {
        done.push_back({p.ncb, code});
    }
}

void Stack::Impl::FailListens(NameEntry& entry, std::uint8_t code, Completions& done) {
    while (!entry.listens.empty()) {
        CompleteListen(entry, 0, code, done);
    }
}

void Stack::Impl::RefuseQueued(std::uint8_t lana, const NetbiosName& name, std::uint8_t error) {
    for (auto it = queued_.begin(); it != queued_.end();) {
        if (it->lana == lana && it->called == name) {
            Refuse(std::move(it->fd), error);
            it = queued_.erase(it);
        } else {
            ++it;
        }
    }
}

void Stack::Impl::DropName(Lana& lana, const NetbiosName& name, std::uint8_t listen_code,
                           Completions& done) {
    auto it = lana.names.find(name);
    if (it == lana.names.end()) {
        return;
    }
    FailListens(it->second, listen_code, done);
    RefuseQueued(lana.number, name, wire::session_error::kCalledNotPresent);
    // Sessions stay in the table, ended, until their owner hangs up.
    sessions_.Abort(lana.number, &name, false);
    {
        std::lock_guard copies(handed_over_mutex_);  // sessions carried on elsewhere
        std::erase_if(handed_over_, [&](const HandedOver& h) {
            return h.lana == lana.number && h.local == name;
        });
    }
    if (it->second.state == NameEntry::State::Held && lana.iface.CanBroadcast() && name_socket_ &&
        config_.registration_retries > 0) {
        Repeated release;
        release.lana = lana.number;
        release.name = name;
        release.trn_id = NextTransactionId();
        BroadcastRelease(lana, name, release.trn_id);
        release.left = config_.registration_retries - 1;
        release.next = Clock::now() + config_.registration_interval;
        if (release.left > 0) {
            repeated_.push_back(std::move(release));
            Wake();
        }
    }
    lana.names.erase(it);
    changed_.notify_all();  // an add still registering this name sees it gone
}

void Stack::Impl::DropLana(Lana& lana, std::uint8_t listen_code, Completions& done) {
    for (auto& [name, entry] : lana.names) {
        FailListens(entry, listen_code, done);
        RefuseQueued(lana.number, name, wire::session_error::kCalledNotPresent);
    }
    lana.names.clear();
    sessions_.Abort(lana.number, nullptr, true);
    std::erase_if(repeated_, [&](const Repeated& r) { return r.lana == lana.number; });
    changed_.notify_all();
}

std::uint8_t Stack::Impl::AddName(NCB* ncb) {
    const NetbiosName name = FieldName(ncb->ncb_name);
    if (name[0] == 0) {
        return NRC_ILLNN;
    }
    if (name[0] == '*') {
        return NRC_NOWILD;
    }
    // Without the name and session ports a name could be neither defended nor called.
    if (!EnsurePorts(true, true, false)) {
        return NRC_NORESOURCES;
    }
    Lock lock(mutex_);
    Lana* lana = FindLana(ncb->ncb_lana_num);
    if (lana == nullptr) {
        return NRC_BRIDGE;
    }
    if (lana->names.contains(name)) {
        return NRC_DUPNAME;
    }
    if (lana->names.size() >= lana->max_names) {
        return NRC_NAMTFUL;
    }
    // A release still being repeated for this name would undo the new registration.
    std::erase_if(repeated_,
                  [&](const Repeated& r) { return r.lana == lana->number && r.name == name; });

    std::uint8_t number = 0;
    for (int i = 0; i < 254 && number == 0; ++i) {
        const std::uint8_t n = NextNumber(lana->next_name_number);
        const bool used = std::any_of(lana->names.begin(), lana->names.end(),
                                      [&](const auto& e) { return e.second.number == n; });
        number = used ? 0 : n;
    }
    NameEntry& added = lana->names[name];
    added.number = number;
    added.generation = next_generation_++;
    added.registration_id = NextTransactionId();
    const std::uint64_t generation = added.generation;
    const std::uint16_t id = added.registration_id;
    const std::uint8_t lana_number = lana->number;

    if (!lana->iface.CanBroadcast()) {
        added.state = NameEntry::State::Held;  // alone on the interface: nobody to ask
        ncb->ncb_num = number;
        return NRC_GOODRET;
    }
    // The entry may go while the lock is released (deleted, reset, adapter gone).
    auto current = [&]() -> NameEntry* {
        Lana* l = FindLana(lana_number);
        if (l == nullptr) {
            return nullptr;
        }
        auto it = l->names.find(name);
        return it != l->names.end() && it->second.generation == generation ? &it->second : nullptr;
    };
    // On every subnet of the interface, each request with our address there; a refusal from
    // any of them fails the add.
    auto request = [&](bool overwrite_demand) {
        return [&, overwrite_demand](const Subnet& subnet) {
            return wire::EncodeRegistrationRequest(id, name, subnet.address, overwrite_demand);
        };
    };
    for (int i = 0; i < config_.registration_retries; ++i) {
        Broadcast(*FindLana(lana_number), name_socket_.get(), config_.name_port, request(false));
        const auto deadline = Clock::now() + config_.registration_interval;
        changed_.wait_until(lock, deadline, [&] {
            NameEntry* e = current();
            return stopping_ || e == nullptr || e->refused;
        });
        NameEntry* e = current();
        if (stopping_) {
            if (e != nullptr) {
                FindLana(lana_number)->names.erase(name);
            }
            return NRC_SYSTEM;
        }
        if (e == nullptr) {
            return NRC_NAMERR;
        }
        if (e->refused) {
            FindLana(lana_number)->names.erase(name);
            return NRC_INUSE;
        }
    }
    // Nobody objected: claim the name once more, now as its owner.
    Broadcast(*FindLana(lana_number), name_socket_.get(), config_.name_port, request(true));
    NameEntry* held = current();
    held->state = NameEntry::State::Held;
    held->late_answers_until =
        Clock::now() + config_.registration_retries * config_.registration_interval;
    ncb->ncb_num = number;
    return NRC_GOODRET;
}

std::uint8_t Stack::Impl::DeleteName(NCB* ncb) {
    const NetbiosName name = FieldName(ncb->ncb_name);
    Completions done;
    {
        std::lock_guard lock(mutex_);
        Lana* lana = FindLana(ncb->ncb_lana_num);
        if (lana == nullptr) {
            return NRC_BRIDGE;
        }
        if (!lana->names.contains(name)) {
            return NRC_NOWILD;
        }
        DropName(*lana, name, NRC_NAMERR, done);
    }
    FinishAll(done);
    return NRC_GOODRET;
}

std::uint8_t Stack::Impl::Reset(NCB* ncb) {
    Completions done;
    {
        std::lock_guard lock(mutex_);
        Lana* lana = FindLana(ncb->ncb_lana_num);
        if (lana == nullptr) {
            return NRC_BRIDGE;
        }
        std::vector<NetbiosName> names;
        for (const auto& [name, entry] : lana->names) {
            names.push_back(name);
        }
        for (const auto& name : names) {
            DropName(*lana, name, NRC_NAMERR, done);
        }
        sessions_.Abort(lana->number, nullptr, true);
        if (ncb->ncb_lsn == 0) {
            const std::uint8_t sessions = ncb->ncb_callname[0];
            const std::uint8_t names_limit = ncb->ncb_callname[2];
            lana->max_sessions = sessions ? std::min<std::size_t>(sessions, 254) : kDefaultSessions;
            lana->max_names = names_limit ? std::min<std::size_t>(names_limit, 254) : kDefaultNames;
        }
    }
    FinishAll(done);
    return NRC_GOODRET;
}

std::uint8_t Stack::Impl::Enumerate(NCB* ncb) {
    if (ncb->ncb_buffer == nullptr || ncb->ncb_length < 1) {
        return NRC_BUFLEN;
    }
    // A fresh look at the interfaces, from the stack's own network namespace.
    if (!RunOnStackThread([this] {
            RefreshInterfaces(deferred_);
            next_interface_scan_ = NextInterfaceScan(Clock::now());
            Wake();
        })) {
        return NRC_SYSTEM;
    }
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    const std::size_t room = std::min<std::size_t>(ncb->ncb_length - 1u, 254);
    for (const auto& [number, lana] : lanas_) {
        if (lana.present && count < room) {
            ncb->ncb_buffer[1 + count++] = number;
        }
    }
    ncb->ncb_buffer[0] = static_cast<std::uint8_t>(count);
    return NRC_GOODRET;
}

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
