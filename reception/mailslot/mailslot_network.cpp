#include "reception/mailslot/mailslot_network.h"

#include "reception/mailslot/messenger_mailslot.h"

void TlMailslotNetwork::Rebuild() {
    TlNetwork::Rebuild();
    full_.push_back(std::make_unique<TlMailslotInterface>(std::string(kMessengerMailslot)));
}
