#include "reception/netbios/ncb_names.h"

#include <algorithm>
#include <cstring>

namespace netbios_fields {

using platform::netbios::NCB;
using platform::netbios::NCBNAMSZ;

NCB BlankNcb(std::uint8_t command, std::uint8_t lana) {
    NCB ncb;
    ncb.ncb_command = command;
    ncb.ncb_lana_num = lana;
    std::memset(ncb.ncb_callname, ' ', NCBNAMSZ);
    std::memset(ncb.ncb_name, ' ', NCBNAMSZ);
    return ncb;
}

void SetName(std::uint8_t (&field)[NCBNAMSZ], std::string_view name, std::uint8_t suffix) {
    std::memset(field, ' ', NCBNAMSZ);
    std::memcpy(field, name.data(), std::min<std::size_t>(name.size(), NCBNAMSZ - 1));
    field[NCBNAMSZ - 1] = suffix;
}

std::string FieldText(const std::uint8_t (&field)[NCBNAMSZ]) {
    return std::string(reinterpret_cast<const char*>(field), NCBNAMSZ);
}

}  // namespace netbios_fields
