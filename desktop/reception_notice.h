#pragma once

#include <string>

#include "platform/netbios/machine_service.h"

// The no-reception notice's text in the user's language: the notice's sentence with the reason
// and what to do about it (start the NetBIOS service or give the program the capability to open
// the ports; which program holds a port). Empty when reception works.
std::string ReceptionNoticeText(const platform::netbios::ReceptionTrouble& trouble,
                                const std::string& program_path);
