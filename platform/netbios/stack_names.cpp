#include <algorithm>
#include <cstring>

#include "platform/netbios/ncb_dispatch.h"
#include "platform/netbios/stack_impl.h"
#include "platform/netbios/wire/session.h"

// Names: adding (broadcast registration), deleting, resetting and enumerating adapters; dropping
// a name with what waits on it.
namespace platform::netbios {
namespace {

std::uint8_t NextNumber(std::uint8_t& next) {
    const std::uint8_t n = next;
    next = static_cast<std::uint8_t>(next % 254 + 1);
    return n;
}

}  // namespace

Stack::Impl::NameEntry* Stack::Impl::FindHeld(Lana& lana, const NetbiosName& name) {
    auto it = lana.names.find(name);
    return it != lana.names.end() && it->second.state == NameEntry::State::Held ? &it->second
                                                                                : nullptr;
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
            Refuse(it->fd.Release(), error);
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

    const std::uint8_t number = FreeNameNumber(*lana);
    NameEntry& added = lana->names[name];
    added.number = number;
    added.generation = next_generation_++;
    added.registration_id = NextTransactionId();
    if (!lana->iface.CanBroadcast()) {
        added.state = NameEntry::State::Held;  // alone on the interface: nobody to ask
        ncb->ncb_num = number;
        return NRC_GOODRET;
    }
    const std::uint8_t code = Register(lock, lana->number, name, added);
    if (code == NRC_GOODRET) {
        ncb->ncb_num = number;
    }
    return code;
}

std::uint8_t Stack::Impl::FreeNameNumber(Lana& lana) {
    std::uint8_t number = 0;
    for (int i = 0; i < 254 && number == 0; ++i) {
        const std::uint8_t n = NextNumber(lana.next_name_number);
        const bool used = std::any_of(lana.names.begin(), lana.names.end(),
                                      [&](const auto& e) { return e.second.number == n; });
        number = used ? 0 : n;
    }
    return number;
}

std::uint8_t Stack::Impl::Register(Lock& lock, std::uint8_t lana_number, const NetbiosName& name,
                                   const NameEntry& entry) {
    const std::uint64_t generation = entry.generation;
    const std::uint16_t id = entry.registration_id;
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

}  // namespace platform::netbios
