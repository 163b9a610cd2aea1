#pragma once

#include "platform/netbios/socket.h"

namespace platform::netbios {

// Says when the machine's interfaces or their IPv4 addresses change (the kernel's route netlink
// messages of this network namespace), so that the interfaces are listed again only then and
// nothing looks at them on a timer while they stay as they are.
class InterfaceWatch {
  public:
    // Not valid when the system gives no such socket: its owner then looks on a timer.
    InterfaceWatch();

    bool valid() const { return static_cast<bool>(fd_); }
    // Readable when something may have changed.
    int fd() const { return fd_.get(); }
    // Reads what waits; true when any of it told of a change (or messages were lost).
    bool Drain();

  private:
    UniqueFd fd_;
};

}  // namespace platform::netbios
