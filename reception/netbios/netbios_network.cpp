#include "reception/netbios/netbios_network.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "reception/netbios/ncb_names.h"

namespace nb = platform::netbios;

namespace {

// The LANA numbers the platform reports, or nullopt when the enumeration failed.
std::optional<std::vector<std::uint8_t>> EnumerateLanas() {
    std::uint8_t list[256] = {};
    nb::NCB ncb = netbios_fields::BlankNcb(nb::NCBENUM, 0);
    ncb.ncb_buffer = list;
    ncb.ncb_length = sizeof list;
    if (nb::Netbios(&ncb) != nb::NRC_GOODRET) {
        return std::nullopt;
    }
    std::size_t count = std::min<std::size_t>(list[0], sizeof list - 1);
    return std::vector<std::uint8_t>(list + 1, list + 1 + count);
}

}  // namespace

void TlNetbiosInterface::Reset() {
    nb::NCB ncb = netbios_fields::BlankNcb(nb::NCBRESET, lana_);
    ncb.ncb_lsn = 0;
    ncb.ncb_callname[0] = kSessions;
    ncb.ncb_callname[2] = kNames;
    nb::Netbios(&ncb);
}

void TlNetbiosNetwork::Rebuild() {
    TlNetwork::Rebuild();
    for (std::uint8_t lana : EnumerateLanas().value_or(std::vector<std::uint8_t>{})) {
        full_.push_back(std::make_unique<TlNetbiosInterface>(lana));
    }
}

void TlNetbiosNetwork::Scan() {
    auto lanas = EnumerateLanas();
    // A failed enumeration says nothing about the adapters: keep the list as it is rather than
    // tear down every port.
    if (!lanas) {
        return;
    }
    for (auto& i : current_) {
        i->stale = 1;
    }
    for (std::uint8_t lana : *lanas) {
        auto it = std::find_if(current_.begin(), current_.end(), [&](auto& i) {
            return static_cast<TlNetbiosInterface&>(*i).lana() == lana;
        });
        if (it != current_.end()) {
            (*it)->stale = 0;
        } else {
            current_.push_back(std::make_unique<TlNetbiosInterface>(lana));
            changed_ = true;
        }
    }
    std::erase_if(current_, [this](auto& i) {
        if (i->stale != 1) {
            return false;
        }
        changed_ = true;
        return true;
    });
}
