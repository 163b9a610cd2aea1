#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/mailslot/mailslot.h"
#include "platform/netbios/machine_service.h"
#include "platform/netbios/machine_service/client.h"
#include "platform/netbios/ncb.h"
#include "platform/netbios/samba.h"
#include "platform/netbios/stack.h"

namespace platform::netbios {
namespace {

using Clock = std::chrono::steady_clock;
using service::ServiceClient;

// How often a stack that cannot bind its ports for want of privilege looks for the service.
constexpr auto kLookForService = std::chrono::seconds(2);

enum class Choice { Automatic, Stack, Service };

struct Target {
    std::mutex mutex;
    Choice choice = Choice::Automatic;
    Stack::Config config;  // of the stack chosen automatically
    std::shared_ptr<Stack> stack;
    std::shared_ptr<ServiceClient> service;
    Clock::time_point next_look{};
};

Target& TheTarget() {
    static Target target;
    return target;
}

struct Current {
    std::shared_ptr<Stack> stack;
    std::shared_ptr<ServiceClient> service;
};

bool ServiceSocketThere() {
    struct stat st {};
    return ::stat(kServiceSocketPath, &st) == 0 && S_ISSOCK(st.st_mode);
}

bool LacksPrivilege(const Stack& stack) {
    for (const auto& p : stack.BindProblems()) {
        if (p.error == EACCES || p.error == EPERM) {
            return true;
        }
    }
    return false;
}

// Replaces what Netbios() uses (lock held); what it replaced goes to old, to be let go of once
// the lock is released. Mailslots made so far stop being live when the service comes or goes,
// so that their ports make them again where datagrams now arrive.
void Install(Target& t, std::shared_ptr<Stack> stack, std::shared_ptr<ServiceClient> service,
             std::vector<std::shared_ptr<void>>& old) {
    const bool had_service = t.service != nullptr;
    old.push_back(std::exchange(t.stack, std::move(stack)));
    old.push_back(std::exchange(t.service, std::move(service)));
    if (t.service) {
        std::weak_ptr<ServiceClient> client = t.service;
        platform::mailslot::SetProvider(
            [client](std::string_view name,
                     std::size_t max_size) -> std::optional<platform::mailslot::Mailslot> {
                auto c = client.lock();
                return c ? c->OpenMailslot(name, max_size) : std::nullopt;
            });
    } else if (had_service) {
        platform::mailslot::SetProvider(nullptr);
    }
    ReceptionChanged().Set();
}

Current Resolve() {
    std::vector<std::shared_ptr<void>> old;  // released after the lock
    Target& t = TheTarget();
    std::lock_guard lock(t.mutex);
    if (t.choice == Choice::Automatic) {
        const auto now = Clock::now();
        if (!t.stack && !t.service) {
            if (ServiceSocketThere()) {
                Install(t, nullptr, std::make_shared<ServiceClient>(kServiceSocketPath), old);
            } else {
                Install(t, std::make_shared<Stack>(t.config), nullptr, old);
                t.next_look = now + kLookForService;
            }
        } else if (t.stack && now >= t.next_look) {
            t.next_look = now + kLookForService;
            if (LacksPrivilege(*t.stack) && ServiceSocketThere()) {
                Install(t, nullptr, std::make_shared<ServiceClient>(kServiceSocketPath), old);
            }
        }
    }
    return {t.stack, t.service};
}

void Choose(Choice choice, std::shared_ptr<Stack> stack, std::shared_ptr<ServiceClient> service,
            const Stack::Config* config) {
    std::vector<std::shared_ptr<void>> old;
    Target& t = TheTarget();
    std::lock_guard lock(t.mutex);
    t.choice = choice;
    if (config != nullptr) {
        t.config = *config;
    }
    Install(t, std::move(stack), std::move(service), old);
}

}  // namespace

void SetProcessStack(std::shared_ptr<Stack> stack) {
    // The old stack stops here, or when the last call still using it returns.
    const Choice choice = stack ? Choice::Stack : Choice::Automatic;
    Choose(choice, std::move(stack), nullptr, nullptr);
}

std::shared_ptr<Stack> ProcessStack() {
    return Resolve().stack;
}

void UseService(const std::string& socket_path) {
    Choose(Choice::Service, nullptr, std::make_shared<ServiceClient>(socket_path), nullptr);
}

void ChooseAutomatically(Stack::Config config) {
    Choose(Choice::Automatic, nullptr, nullptr, &config);
}

bool UsingService() {
    return Resolve().service != nullptr;
}

platform::Event& ReceptionChanged() {
    static platform::Event changed{platform::Event::Mode::AutoReset};
    return changed;
}

ReceptionTrouble CurrentReceptionTrouble() {
    using Kind = ReceptionTrouble::Kind;
    const Current current = Resolve();
    if (current.service) {
        return {current.service->Reachable() ? Kind::None : Kind::ServiceSilent, {}};
    }
    auto problems = current.stack->BindProblems();
    if (problems.empty()) {
        return {};
    }
    if (SambaHoldsPorts(problems)) {
        return {Kind::SambaHoldsPorts, std::move(problems)};
    }
    if (LacksPrivilege(*current.stack)) {
        return {Kind::ServiceNeeded, {}};
    }
    return {Kind::PortsFailed, std::move(problems)};
}

std::string ReceptionProblem() {
    using Kind = ReceptionTrouble::Kind;
    const ReceptionTrouble trouble = CurrentReceptionTrouble();
    const std::string start = "Start it with: sudo systemctl start tolvane-netbiosd";
    switch (trouble.kind) {
        case Kind::None:
            return {};
        case Kind::ServiceSilent:
            return "Messages cannot be received: the NetBIOS service does not answer. " + start;
        case Kind::ServiceNeeded:
            return "Messages cannot be received: the NetBIOS service is not running. " + start;
        case Kind::SambaHoldsPorts:
            return "Messages cannot be received: Samba holds the NetBIOS ports. " +
                   std::string(kSambaSwitch);
        case Kind::PortsFailed:
            break;
    }
    std::string line = "Messages cannot be received: ";
    for (std::size_t i = 0; i < trouble.ports.size(); ++i) {
        line += (i ? "; " : "") + DescribeBindProblem(trouble.ports[i]);
    }
    return line;
}

std::string OwnNameProblem() {
    const Current current = Resolve();
    const std::string refusal = current.service ? current.service->Refusal() : std::string();
    return refusal.empty() ? refusal
                           : "Messages to your own name cannot be received: " + refusal +
                                 ". Messages to the computer's name still arrive.";
}

bool WriteMailslot(std::uint8_t lana, std::string_view computer_or_star, std::string_view mailslot,
                   std::span<const std::uint8_t> data) {
    const Current current = Resolve();
    return current.service ? current.service->WriteMailslot(lana, computer_or_star, mailslot, data)
                           : current.stack->WriteMailslot(lana, computer_or_star, mailslot, data);
}

std::uint8_t Netbios(NCB* ncb) {
    // The references keep the target alive for the whole call, even if it is replaced meanwhile.
    const Current current = Resolve();
    return current.service ? current.service->Submit(ncb) : current.stack->Submit(ncb);
}

}  // namespace platform::netbios
