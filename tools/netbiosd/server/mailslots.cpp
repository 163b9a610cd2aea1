#include <fcntl.h>

#include <algorithm>

#include "tools/netbiosd/server/server.h"

// Mailslots of the service's made for a program, and mailslot writes sent for it.
namespace platform::netbios::service {

void Server::OpenMailslot(Client& client, const Request& request) {
    const std::string name = platform::mailslot::CanonicalName(request.mailslot);
    if (client.mailslots.contains(name)) {
        Answer(client, request.id, NRC_DUPNAME);
        return;
    }
    if (client.mailslots.size() >= options_.limits.mailslots) {
        Answer(client, request.id, NRC_NORES);
        return;
    }
    // The program's own copy: every program that opens the mailslot gets what arrives for it.
    auto slot = platform::mailslot::Mailslot::CreateHere(DatagramRoutes::CopyName(name, client.id),
                                                         request.max_size);
    if (!slot) {
        Answer(client, request.id, NRC_NORES);
        return;
    }
    UniqueFd reader(::fcntl(slot->fd(), F_DUPFD_CLOEXEC, 0));
    if (!reader) {
        Answer(client, request.id, NRC_NORES);
        return;
    }
    client.mailslots[name] = slot->ReleaseLease();
    routes_->Open(client.id, name);
    Reply reply;
    reply.id = request.id;
    Answer(client.id, reply, std::move(reader));
}

void Server::WriteMailslot(Client& client, const Request& request) {
    // Any program may write, as any program on the platform may: the datagram names no one
    // here, and its size is bounded by the stack.
    const std::uint64_t id = client.id;
    RunForClient(client, [this, id, request] {
        const bool written =
            stack_.WriteMailslot(request.lana, request.computer, request.mailslot, request.data);
        Post([this, id, written, request_id = request.id] {
            FinishRunning(id);
            Reply reply;
            reply.id = request_id;
            reply.retcode = written ? NRC_GOODRET : NRC_NORESOURCES;
            Answer(id, reply);
        });
    });
}

}  // namespace platform::netbios::service
