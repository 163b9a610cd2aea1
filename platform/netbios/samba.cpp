#include "platform/netbios/samba.h"

#include <dirent.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>

#include "platform/netbios/port_holder.h"

namespace platform::netbios {

const char* const kSambaSwitch =
    "To keep Samba's file sharing beside it, set \"smb ports = 445\" and \"disable netbios = yes\" "
    "in the [global] section of /etc/samba/smb.conf, then run: sudo systemctl disable --now nmbd; "
    "sudo systemctl restart smbd; sudo systemctl enable --now tolvane-netbiosd.socket "
    "(tolvane-netbiosd --check-samba shows Samba's settings)";

namespace {

bool IsSamba(const std::string& program) {
    return program == "nmbd" || program == "smbd";
}

// A process of that name, of any user (the names are public in /proc).
bool Running(std::string_view program) {
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    if (!proc) {
        return false;
    }
    while (const dirent* entry = readdir(proc.get())) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') {
            continue;
        }
        std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
        std::string name;
        if (std::getline(comm, name) && name == program) {
            return true;
        }
    }
    return false;
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool IsYes(std::string_view value) {
    return value == "Yes" || value == "yes" || value == "True" || value == "true" || value == "1";
}

}  // namespace

bool SambaHoldsPorts(const std::vector<BindProblem>& problems) {
    bool unseen = false;
    for (const BindProblem& problem : problems) {
        // Without the privilege a bind fails as denied even where the port is taken.
        if (problem.error != EADDRINUSE && problem.error != EACCES && problem.error != EPERM) {
            continue;
        }
        if (const auto holder = FindPortHolder(problem.port)) {
            if (IsSamba(holder->program)) {
                return true;
            }
        } else if (PortInUse(problem.port)) {
            unseen = true;
        }
    }
    return unseen && (Running("nmbd") || Running("smbd"));
}

bool SambaSettings::TakesSessionPort() const {
    std::size_t at = 0;
    while ((at = smb_ports.find("139", at)) != std::string::npos) {
        const bool starts = at == 0 || smb_ports[at - 1] == ' ' || smb_ports[at - 1] == ',';
        const bool ends =
            at + 3 == smb_ports.size() || smb_ports[at + 3] == ' ' || smb_ports[at + 3] == ',';
        if (starts && ends) {
            return true;
        }
        at += 3;
    }
    return false;
}

SambaSettings ParseTestparm(std::string_view output) {
    SambaSettings settings;
    bool global = false;
    while (!output.empty()) {
        const auto end = output.find('\n');
        const std::string_view line = Trim(output.substr(0, end));
        output.remove_prefix(end == std::string_view::npos ? output.size() : end + 1);
        if (line.starts_with('[')) {
            global = line == "[global]";
            continue;
        }
        const auto equals = line.find('=');
        if (!global || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = Trim(line.substr(0, equals));
        const std::string_view value = Trim(line.substr(equals + 1));
        if (key == "smb ports") {
            settings.smb_ports = std::string(value);
        } else if (key == "disable netbios") {
            settings.netbios_disabled = IsYes(value);
        }
    }
    return settings;
}

bool CheckSamba(std::string& out) {
    // Samba's client tools bring testparm too; only the server's daemons hold ports.
    if (::access("/usr/sbin/smbd", X_OK) != 0 && ::access("/usr/sbin/nmbd", X_OK) != 0) {
        out +=
            "Samba's smbd and nmbd are not installed: nothing of Samba holds the NetBIOS ports.\n";
        return true;
    }
    // testparm prints the settings that differ from Samba's defaults on standard output.
    std::unique_ptr<FILE, int (*)(FILE*)> testparm(
        popen("testparm -s 2>/dev/null; echo \"exit=$?\"", "r"), pclose);
    std::string output;
    std::array<char, 4096> chunk;
    while (testparm && !std::feof(testparm.get())) {
        const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), testparm.get());
        output.append(chunk.data(), n);
        if (n == 0) {
            break;
        }
    }
    testparm.reset();
    if (output.ends_with("exit=127\n") || output.empty()) {
        out += "Samba's testparm is not installed: no Samba settings to check.\n";
        return true;
    }
    const SambaSettings settings = ParseTestparm(output);
    const bool session = settings.TakesSessionPort();
    out += "Samba's settings (testparm -s):\n";
    out += "  smb ports = " + settings.smb_ports +
           (session ? "  (smbd takes TCP 139)\n" : "  (smbd leaves TCP 139 free)\n");
    out += std::string("  disable netbios = ") + (settings.netbios_disabled ? "yes" : "no") +
           (settings.netbios_disabled ? "  (nmbd does not run)\n"
                                      : "  (nmbd takes UDP 137 and 138)\n");
    const auto holder = FindPortHolder(139);
    const bool running = Running("nmbd") || (holder && IsSamba(holder->program));
    if (running) {
        out += "  nmbd runs, or smbd holds TCP 139\n";
    }
    if (!session && settings.netbios_disabled && !running) {
        out += "Samba leaves the NetBIOS ports to tolvane-netbiosd.\n";
        return true;
    }
    out +=
        "To keep Samba's file sharing (port 445) beside tolvane-netbiosd, set in the [global] "
        "section of /etc/samba/smb.conf:\n"
        "  smb ports = 445\n"
        "  disable netbios = yes\n"
        "then run:\n"
        "  sudo systemctl disable --now nmbd\n"
        "  sudo systemctl restart smbd\n"
        "  sudo systemctl enable --now tolvane-netbiosd.socket\n";
    return false;
}

}  // namespace platform::netbios
