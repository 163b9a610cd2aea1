#include "sending/sender.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <span>
#include <vector>

#include "platform/codepage/codepage.h"
#include "platform/netbios/machine_service.h"
#include "platform/system/system.h"
#include "reception/data_buffer.h"
#include "reception/netbios/ncb_names.h"
#include "reception/smb/smb_pdu_sendend.h"
#include "reception/smb/smb_pdu_sends.h"
#include "reception/smb/smb_pdu_sendstrt.h"
#include "reception/smb/smb_pdu_sendtxt.h"
#include "sending/message_text.h"

namespace sending {
namespace {

namespace nb = platform::netbios;
namespace cp = platform::codepage;
using netbios_fields::BlankNcb;
using netbios_fields::kMessengerSuffix;
using netbios_fields::SetName;

constexpr const char* kMessengerMailslot = "\\MAILSLOT\\MESSNGR";
// The most a mailslot datagram carries that every receiver here takes (Windows: 424).
constexpr std::size_t kMaxBroadcastData = 400;

Result Fail(Outcome outcome, std::string problem) {
    return {outcome, std::move(problem)};
}

std::string AddressText(std::uint32_t address) {
    in_addr a{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

// Why NetBIOS cannot be used here, when a command failed for want of it.
std::string NetbiosProblem(std::uint8_t code) {
    if (!nb::UsingService()) {
        if (auto stack = nb::ProcessStack(); stack && !stack->BindProblems().empty()) {
            std::string line = "cannot use NetBIOS here: ";
            bool privilege = false;
            const auto problems = stack->BindProblems();
            for (std::size_t i = 0; i < problems.size(); ++i) {
                line += (i ? "; " : "") + nb::DescribeBindProblem(problems[i]);
                privilege = privilege || problems[i].error == EACCES || problems[i].error == EPERM;
            }
            if (privilege) {
                return "the NetBIOS service is not running. Start it with: sudo systemctl start "
                       "tolvane-netbiosd";
            }
            return line;
        }
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", code);
    return std::string("NetBIOS failed with code ") + hex;
}

std::vector<std::uint8_t> Adapters() {
    std::uint8_t list[256] = {};
    nb::NCB ncb = BlankNcb(nb::NCBENUM, 0);
    ncb.ncb_buffer = list;
    ncb.ncb_length = sizeof list;
    if (nb::Netbios(&ncb) != nb::NRC_GOODRET) {
        return {};
    }
    return {list + 1, list + 1 + list[0]};
}

// A name this program calls from on one adapter; a name it added for the call is deleted again.
class CallingName {
  public:
    CallingName(std::uint8_t lana, std::string wire) : lana_(lana), wire_(std::move(wire)) {}
    CallingName(const CallingName&) = delete;
    CallingName& operator=(const CallingName&) = delete;
    ~CallingName() {
        if (added_) {
            nb::NCB ncb = BlankNcb(nb::NCBDELNAME, lana_);
            SetName(ncb.ncb_name, wire_, kMessengerSuffix);
            nb::Netbios(&ncb);
        }
    }

    // Adds the name, or finds another program of this computer holding it (the service lets a
    // program call from its user's names and the computer's). The code of a failed add.
    std::uint8_t Take() {
        nb::NCB ncb = BlankNcb(nb::NCBADDNAME, lana_);
        SetName(ncb.ncb_name, wire_, kMessengerSuffix);
        const std::uint8_t code = nb::Netbios(&ncb);
        added_ = code == nb::NRC_GOODRET;
        return code == nb::NRC_DUPNAME ? nb::NRC_GOODRET : code;
    }

    const std::string& wire() const { return wire_; }

  private:
    std::uint8_t lana_;
    std::string wire_;
    bool added_ = false;
};

// One session to the recipient: units sent, their replies checked, hung up at the end.
class Session {
  public:
    Session(std::uint8_t lana, std::uint8_t lsn) : lana_(lana), lsn_(lsn) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() {
        nb::NCB ncb = BlankNcb(nb::NCBHANGUP, lana_);
        ncb.ncb_lsn = lsn_;
        nb::Netbios(&ncb);
    }

    // Sends the unit and waits for the reply of its command. The group id of a start reply goes
    // to group. An empty string when acknowledged, else what went wrong.
    std::optional<std::string> Exchange(CSmbPdu& unit, std::uint16_t* group = nullptr) {
        CDataBuffer buffer;
        unit.Encode(buffer);
        nb::NCB send = BlankNcb(nb::NCBSEND, lana_);
        send.ncb_lsn = lsn_;
        send.ncb_buffer = buffer.Data();
        send.ncb_length = static_cast<std::uint16_t>(buffer.Length());
        if (nb::Netbios(&send) != nb::NRC_GOODRET) {
            return std::nullopt;
        }
        CDataBuffer in;
        nb::NCB receive = BlankNcb(nb::NCBRECV, lana_);
        receive.ncb_lsn = lsn_;
        receive.ncb_buffer = in.Data();
        std::uint8_t code;
        do {  // an empty session message carries no unit
            receive.ncb_length = CDataBuffer::kCapacity;
            code = nb::Netbios(&receive);
        } while (code == nb::NRC_GOODRET && receive.ncb_length == 0);
        CSmbPdu reply;
        if (code != nb::NRC_GOODRET ||
            !reply.DecodeBytes({in.Data(), static_cast<std::size_t>(receive.ncb_length)}) ||
            reply.protocol != smb::kProtocol || reply.command != unit.command) {
            return std::nullopt;
        }
        if (reply.error_class != 0) {
            char text[64];
            std::snprintf(text, sizeof text, "SMB error class %u, code %u", reply.error_class,
                          reply.error_code);
            return std::string(text);
        }
        if (group != nullptr) {
            *group = reply.word_count >= 1 ? reply.words[0] : 0;
        }
        return std::string();
    }

  private:
    std::uint8_t lana_;
    std::uint8_t lsn_;
};

// The units of one message on an open session.
// unanswered_single: the single-block unit went unanswered (the session ended without a reply).
Result Converse(Session& session, const Message& message, const std::string& text,
                const std::string& peer, bool single, bool& unanswered_single) {
    const auto broke = [&](std::size_t done, std::size_t all,
                           const std::optional<std::string>& why) {
        if (why) {
            return Fail(Outcome::NotDelivered, peer + " refused the message (" + *why + ")");
        }
        return Fail(Outcome::NotDelivered, peer + " broke the session after block " +
                                               std::to_string(done) + " of " + std::to_string(all));
    };
    if (single) {
        CSmbPdu_sends unit;
        unit.Reset();
        unit.origin = message.from;
        unit.recipient = message.to;
        unit.text = text;
        const auto answer = session.Exchange(unit);
        unanswered_single = !answer;
        return answer && answer->empty() ? Result{Outcome::Delivered, {}} : broke(0, 1, answer);
    }
    const auto blocks = TextBlocks(text);
    CSmbPdu_sendstrt start;
    start.Reset();
    start.origin = message.from;
    start.recipient = message.to;
    std::uint16_t group = 0;
    if (auto answer = session.Exchange(start, &group); !answer || !answer->empty()) {
        return broke(0, blocks.size(), answer);
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        CSmbPdu_sendtxt unit;
        unit.Reset();
        unit.word_count = 1;
        unit.words[0] = group;
        unit.text = blocks[i];
        if (auto answer = session.Exchange(unit); !answer || !answer->empty()) {
            return broke(i, blocks.size(), answer);
        }
    }
    CSmbPdu_sendend end;
    end.Reset();
    end.word_count = 1;
    end.words[0] = group;
    if (auto answer = session.Exchange(end); !answer || !answer->empty()) {
        return broke(blocks.size(), blocks.size(), answer);
    }
    return {Outcome::Delivered, {}};
}

// The wire form of a name, or the line saying it has none.
std::optional<std::string> WireName(const std::string& name, const char* role, Result& failed) {
    auto wire = cp::NetbiosName(name);
    if (!wire) {
        failed =
            Fail(Outcome::BadRequest,
                 name.empty() ? std::string(role) + " name is empty"
                              : std::string(role) + " name " + name + " cannot be written in " +
                                    cp::OemCodePage() + ": no NetBIOS name for it");
    }
    return wire;
}

}  // namespace

Result SendMessage(const Message& message, std::uint32_t address) {
    Result failed;
    const auto to = WireName(message.to, "the recipient's", failed);
    const auto from = to ? WireName(message.from, "the sender's", failed) : std::nullopt;
    if (!to || !from) {
        return failed;
    }
    const std::string text = WindowsLineBreaks(message.text);
    if (const std::size_t size = OemSize(text); size > kMaxText) {
        return Fail(Outcome::BadRequest, "the text is " + std::to_string(size) + " bytes in " +
                                             cp::OemCodePage() + "; a message carries at most " +
                                             std::to_string(kMaxText));
    }
    const auto computer = cp::NetbiosName(platform::system::ComputerName());
    std::optional<std::string> refused;
    for (const std::uint8_t lana : Adapters()) {
        // The sender's own name where this program may call from it, else the computer's.
        std::optional<CallingName> caller;
        nb::NCB call{};
        std::uint8_t code = nb::NRC_NOWILD;
        for (const auto* name : {&from, &computer}) {
            if (!*name || (name == &computer && *name == from)) {
                continue;
            }
            if ((code = caller.emplace(lana, **name).Take()) != nb::NRC_GOODRET) {
                continue;
            }
            call = BlankNcb(nb::NCBCALL, lana);
            SetName(call.ncb_name, **name, kMessengerSuffix);
            SetName(call.ncb_callname, *to, kMessengerSuffix);
            nb::SetCallAddress(call, address);
            if ((code = nb::Netbios(&call)) != nb::NRC_NOWILD) {
                break;
            }
        }
        if (code == nb::NRC_NORESOURCES || code == nb::NRC_SYSTEM) {
            return Fail(Outcome::NotDelivered, NetbiosProblem(code));
        }
        if (code == nb::NRC_NOWILD || code == nb::NRC_ILLNN || code == nb::NRC_INUSE) {
            return Fail(Outcome::NotDelivered,
                        "may not send as " + message.from + " nor as this computer here");
        }
        const std::uint32_t found = nb::CallAddress(call);
        const std::string peer = message.to + " (" + AddressText(found) + ")";
        if (code == nb::NRC_GOODRET) {
            bool unanswered = false;
            const bool single = OemSize(text) <= kMaxBlock;
            Result result;
            {
                Session session(lana, call.ncb_lsn);
                result = Converse(session, message, text, peer, single, unanswered);
            }
            if (!unanswered) {
                return result;
            }
            // Samba's message server ends a session that opens with a single-block message
            // unanswered, as it takes only the multi-block commands before a negotiation. Such
            // a message was not received: it goes again as a multi-block one.
            SetCallAddress(call, found);
            call.ncb_command = nb::NCBCALL;
            if (nb::Netbios(&call) != nb::NRC_GOODRET) {
                return result;
            }
            Session session(lana, call.ncb_lsn);
            return Converse(session, message, text, peer, false, unanswered);
        }
        if (found != 0) {
            // The name is there: another adapter would find the same node.
            refused = peer + (code == nb::NRC_REMTFUL ? " has no room for another session"
                                                      : " refuses the session");
            break;
        }
        if (code != nb::NRC_NOCALL) {
            return Fail(Outcome::NotDelivered, NetbiosProblem(code));
        }
    }
    if (refused) {
        return Fail(Outcome::NotDelivered, *refused);
    }
    return Fail(Outcome::NotDelivered, "no computer on the LAN answers for the name " + message.to);
}

Result Broadcast(const Message& message) {
    Result failed;
    if (!WireName(message.from, "the sender's", failed)) {
        return failed;  // said rather than sent with question marks
    }
    std::string data;
    for (const std::string& field :
         {message.from, std::string("*"), WindowsLineBreaks(message.text)}) {
        data += cp::Utf8ToOem(field);
        data += '\0';
    }
    if (data.size() > kMaxBroadcastData) {
        return Fail(Outcome::BadRequest, "a message to every computer carries at most " +
                                             std::to_string(kMaxBroadcastData) +
                                             " bytes with both names; this one has " +
                                             std::to_string(data.size()));
    }
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(data.data()),
                                              data.size());
    const bool sent = nb::WriteMailslot(nb::Stack::kEveryAdapter, "*", kMessengerMailslot, bytes);
    return sent ? Result{Outcome::Delivered, {}}
                : Fail(Outcome::NotDelivered, NetbiosProblem(nb::NRC_NORESOURCES));
}

}  // namespace sending
