#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/netbios/wire/name.h"

// Which program's mailslot a mailslot write from the network goes to. Every program that opens a
// mailslot gets a copy of its own (a local mailslot of the service's), so that a mailslot such as
// the Messenger's is shared by all the programs that want it: a broadcast or group datagram, or
// one to the computer's name, goes to every copy; one addressed to a program's unique name only
// to that program's. Filled on the service's thread, read on the stack's.
namespace platform::netbios::service {

class DatagramRoutes {
  public:
    // The local mailslot that carries program's copy of mailslot (in its canonical form).
    static std::string CopyName(const std::string& mailslot, std::uint64_t program);

    void Open(std::uint64_t program, const std::string& mailslot);
    void Close(std::uint64_t program, const std::string& mailslot);
    void Hold(std::uint8_t lana, const wire::NetbiosName& name, std::uint64_t program);
    void Release(std::uint8_t lana, const wire::NetbiosName& name);
    // Drops everything of the program.
    void Forget(std::uint64_t program);

    // The local mailslots a write to mailslot goes to; see Stack::Config::route_mailslot.
    std::vector<std::string> Route(std::uint8_t lana, const wire::NetbiosName& destination,
                                   bool to_unique_name, std::string_view mailslot) const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::vector<std::uint64_t>> open_;  // mailslot -> programs
    std::map<std::pair<std::uint8_t, wire::NetbiosName>, std::uint64_t> holders_;
};

}  // namespace platform::netbios::service
