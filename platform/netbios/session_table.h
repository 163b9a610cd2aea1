#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/netbios/session.h"

// The established sessions of a stack, or of a program served by the NetBIOS service, by adapter
// and local session number. Safe from any thread.
namespace platform::netbios {

class SessionTable {
  public:
    // A number no session of the adapter has, tried from next on (which moves past it); 0 when
    // the adapter already has max sessions or none is free.
    std::uint8_t FreeNumber(std::uint8_t lana, std::uint8_t& next, std::size_t max) const;
    void Put(std::shared_ptr<Session> session);
    std::shared_ptr<Session> Find(std::uint8_t lana, std::uint8_t lsn) const;
    // Removes the session and returns it; null when there is none.
    std::shared_ptr<Session> Take(std::uint8_t lana, std::uint8_t lsn);
    // Empties the table; the sessions are returned for the caller to end.
    std::vector<std::shared_ptr<Session>> TakeAll();
    // Aborts the sessions of the adapter (every adapter without one) whose local name is name
    // (any without one), and removes them from the table when asked to. Ended sessions otherwise
    // stay until their owner hangs up.
    void Abort(std::optional<std::uint8_t> lana, const wire::NetbiosName* name, bool remove);
    void ForEach(const std::function<void(Session&)>& fn) const;

  private:
    mutable std::mutex mutex_;
    std::map<std::pair<std::uint8_t, std::uint8_t>, std::shared_ptr<Session>> sessions_;
};

}  // namespace platform::netbios
