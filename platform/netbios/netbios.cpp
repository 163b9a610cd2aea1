#include <mutex>
#include <utility>

#include "platform/netbios/ncb.h"
#include "platform/netbios/stack.h"

namespace platform::netbios {
namespace {

std::mutex process_stack_mutex;
std::shared_ptr<Stack> process_stack;

}  // namespace

void SetProcessStack(std::shared_ptr<Stack> stack) {
    std::shared_ptr<Stack> old;
    {
        std::lock_guard lock(process_stack_mutex);
        old = std::exchange(process_stack, std::move(stack));
    }
    // The old stack stops here, or when the last call still using it returns.
}

std::shared_ptr<Stack> ProcessStack() {
    std::lock_guard lock(process_stack_mutex);
    if (!process_stack) {
        process_stack = std::make_shared<Stack>();
    }
    return process_stack;
}

std::uint8_t Netbios(NCB* ncb) {
    // The reference keeps the stack alive for the whole call, even if it is replaced meanwhile.
    const std::shared_ptr<Stack> stack = ProcessStack();
    return stack->Submit(ncb);
}

}  // namespace platform::netbios
