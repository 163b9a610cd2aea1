#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/sync/event.h"

// The NetBIOS call interface: a network control block (NCB) carrying one command, submitted with
// Netbios(). Field names, command codes and return codes are the published NetBIOS ones, so code
// written against that interface reads the same here. Synchronous commands complete before
// Netbios() returns; a command with the ASYNCH bit returns NRC_PENDING at once and later sets
// ncb_retcode, ncb_cmd_cplt and the other output fields, then signals ncb_event.
namespace platform::netbios {

inline constexpr int NCBNAMSZ = 16;

struct NCB {
    std::uint8_t ncb_command = 0;
    std::uint8_t ncb_retcode = 0;
    std::uint8_t ncb_lsn = 0;
    std::uint8_t ncb_num = 0;
    std::uint8_t* ncb_buffer = nullptr;
    std::uint16_t ncb_length = 0;
    std::uint8_t ncb_callname[NCBNAMSZ] = {};
    std::uint8_t ncb_name[NCBNAMSZ] = {};
    std::uint8_t ncb_rto = 0;
    std::uint8_t ncb_sto = 0;
    void (*ncb_post)(NCB*) = nullptr;
    std::uint8_t ncb_lana_num = 0;
    std::uint8_t ncb_cmd_cplt = 0;
    std::uint8_t ncb_reserve[10] = {};
    Event* ncb_event = nullptr;
};

// Commands.
inline constexpr std::uint8_t NCBCALL = 0x10;
inline constexpr std::uint8_t NCBLISTEN = 0x11;
inline constexpr std::uint8_t NCBHANGUP = 0x12;
inline constexpr std::uint8_t NCBSEND = 0x14;
inline constexpr std::uint8_t NCBRECV = 0x15;
inline constexpr std::uint8_t NCBADDNAME = 0x30;
inline constexpr std::uint8_t NCBDELNAME = 0x31;
inline constexpr std::uint8_t NCBRESET = 0x32;
inline constexpr std::uint8_t NCBENUM = 0x37;
inline constexpr std::uint8_t ASYNCH = 0x80;

// Return codes.
inline constexpr std::uint8_t NRC_GOODRET = 0x00;
inline constexpr std::uint8_t NRC_BUFLEN = 0x01;
inline constexpr std::uint8_t NRC_ILLCMD = 0x03;
inline constexpr std::uint8_t NRC_CMDTMO = 0x05;
inline constexpr std::uint8_t NRC_INCOMP = 0x06;
inline constexpr std::uint8_t NRC_BADDR = 0x07;
inline constexpr std::uint8_t NRC_SNUMOUT = 0x08;
inline constexpr std::uint8_t NRC_NORES = 0x09;
inline constexpr std::uint8_t NRC_SCLOSED = 0x0A;
inline constexpr std::uint8_t NRC_CMDCAN = 0x0B;
inline constexpr std::uint8_t NRC_DUPNAME = 0x0D;
inline constexpr std::uint8_t NRC_NAMTFUL = 0x0E;
inline constexpr std::uint8_t NRC_ACTSES = 0x0F;
inline constexpr std::uint8_t NRC_LOCTFUL = 0x11;
inline constexpr std::uint8_t NRC_REMTFUL = 0x12;
inline constexpr std::uint8_t NRC_ILLNN = 0x13;
inline constexpr std::uint8_t NRC_NOCALL = 0x14;
inline constexpr std::uint8_t NRC_NOWILD = 0x15;
inline constexpr std::uint8_t NRC_INUSE = 0x16;
inline constexpr std::uint8_t NRC_NAMERR = 0x17;
inline constexpr std::uint8_t NRC_SABORT = 0x18;
inline constexpr std::uint8_t NRC_NAMCONF = 0x19;
inline constexpr std::uint8_t NRC_IFBUSY = 0x21;
inline constexpr std::uint8_t NRC_TOOMANY = 0x22;
inline constexpr std::uint8_t NRC_BRIDGE = 0x23;
inline constexpr std::uint8_t NRC_CANOCCR = 0x24;
inline constexpr std::uint8_t NRC_CANCEL = 0x26;
inline constexpr std::uint8_t NRC_DUPENV = 0x30;
inline constexpr std::uint8_t NRC_ENVNOTDEF = 0x34;
inline constexpr std::uint8_t NRC_OSRESNOTAV = 0x35;
inline constexpr std::uint8_t NRC_MAXAPPS = 0x36;
inline constexpr std::uint8_t NRC_NOSAPS = 0x37;
inline constexpr std::uint8_t NRC_NORESOURCES = 0x38;
inline constexpr std::uint8_t NRC_INVADDRESS = 0x39;
inline constexpr std::uint8_t NRC_INVDDID = 0x3B;
inline constexpr std::uint8_t NRC_LOCKFAIL = 0x3C;
inline constexpr std::uint8_t NRC_OPENERR = 0x3F;
inline constexpr std::uint8_t NRC_SYSTEM = 0x40;
inline constexpr std::uint8_t NRC_PENDING = 0xFF;

// NCBCALL's use of ncb_reserve, an addition of this stack (the published interface leaves the
// field to the system): bytes 0-3 hold the IPv4 address (network byte order) of the node the
// called name is on, so that no broadcast query is made; zero: find the node by a query. On
// return they hold the address the name was found at, zero when no node answered for it, so a
// caller can tell a name that is absent from one that refuses the session. A listen that
// completes finds there the caller's address.
inline constexpr std::size_t kCallAddressSize = 4;

// The address in ncb_reserve, in host byte order.
inline std::uint32_t CallAddress(const NCB& ncb) {
    std::uint32_t address = 0;
    for (std::size_t i = 0; i < kCallAddressSize; ++i) {
        address = (address << 8) | ncb.ncb_reserve[i];
    }
    return address;
}

inline void SetCallAddress(NCB& ncb, std::uint32_t address) {
    for (std::size_t i = 0; i < kCallAddressSize; ++i) {
        ncb.ncb_reserve[i] = static_cast<std::uint8_t>(address >> (8 * (kCallAddressSize - 1 - i)));
    }
}

// Submits one command to the process-wide stack (started on first use) and returns ncb_retcode.
std::uint8_t Netbios(NCB* ncb);

}  // namespace platform::netbios
