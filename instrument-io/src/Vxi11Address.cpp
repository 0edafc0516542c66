// VXI-11 addresses and their configuration: which host, which LAN device,
// which port the core channel is on, and which line an address keys as.
#include <algorithm>
#include <cctype>

#include "Address.h"
#include "Vxi11.h"

namespace kio {
namespace {

constexpr size_t kLongestName = 255;

bool IsHostName(const std::string& host) {
    return !host.empty() && host.size() <= kLongestName &&
           std::all_of(host.begin(), host.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '.' || c == '-' || c == '_';
           });
}

// LAN device names look like "inst0", "gpib0,10" or "hpib7,1": a letter first.
bool IsDeviceName(const std::string& device) {
    return !device.empty() && device.size() <= kLongestName &&
           std::isalpha(static_cast<unsigned char>(device[0])) &&
           std::all_of(device.begin(), device.end(), [](unsigned char c) {
               return std::isalnum(c) || c == ',' || c == '_' || c == '.' || c == '-';
           });
}

bool IsBoard(const std::string& first) {
    const std::string board = Upper(first).substr(5);
    return board.empty() || AllDigits(board);
}

bool IsPortNumber(const std::string& text) {
    return AllDigits(text) && text.size() <= 5 && std::stoi(text) >= 1 && std::stoi(text) <= 65535;
}

}  // namespace

bool ParseVxi11Address(const std::vector<std::string>& written, Vxi11Target& target,
                       std::string& why) {
    std::vector<std::string> parts = written;
    if (Upper(parts.back()) == "INSTR")
        parts.pop_back();
    if (parts.size() < 2 || parts.size() > 3 || !IsBoard(parts[0])) {
        why = "expected TCPIP[board]::host[::lan-device][::INSTR]";
        return false;
    }
    if (!IsHostName(Trim(parts[1]))) {
        why = "\"" + parts[1] + "\" is no host name or IPv4 address";
        return false;
    }
    target.host = Trim(parts[1]);
    target.device = parts.size() == 3 ? Trim(parts[2]) : kDefaultLanDevice;
    if (AllDigits(target.device)) {
        why = "\"" + target.device +
              "\" is a port number, not a LAN device name: a socket address ends in ::SOCKET";
        return false;
    }
    if (!IsDeviceName(target.device)) {
        why = "\"" + target.device + "\" is no LAN device name (like inst0 or gpib0,10)";
        return false;
    }
    return true;
}

bool ReadVxi11Request(const BusRequest& request, Vxi11Target& target, BusFailure& failure,
                      std::string& why) {
    if (!ParseVxi11Address(request.written, target, why)) {
        failure = BusFailure::kBadAddress;
        return false;
    }
    failure = BusFailure::kNotFound;
    return true;
}

bool ConfiguredCorePort(const Config& config, const std::string& host, std::string& port,
                        std::string& why) {
    std::string section = "TCPIP::" + Upper(host);
    port = Trim(Lookup(config, section, "VXI11_PORT"));
    if (port.empty()) {
        section = "TCPIP";
        port = Trim(Lookup(config, section, "VXI11_PORT"));
    }
    if (port.empty() || IsPortNumber(port))
        return true;
    why = "vxi11_port in [" + section + "] is no port number: \"" + port + "\"";
    return false;
}

std::vector<std::string> Vxi11HostAddresses(const Config& config) {
    std::string list = Lookup(config, "TCPIP", "VXI11_HOSTS");
    std::replace(list.begin(), list.end(), ',', ' ');
    std::vector<std::string> addresses;
    size_t start = 0;
    while ((start = list.find_first_not_of(" \t", start)) != std::string::npos) {
        size_t end = list.find_first_of(" \t", start);
        std::string host = list.substr(start, end == std::string::npos ? end : end - start);
        if (IsHostName(host))
            addresses.push_back("TCPIP0::" + host + "::INSTR");
        start = end;
    }
    return addresses;
}

// One host may serve several LAN devices (a gateway's gpib0,5): each is a
// port of its own on that host.
std::optional<LineKey> KeyOfVxi11Address(const BusRequest& request) {
    Vxi11Target target;
    std::string why;
    if (!ParseVxi11Address(request.written, target, why))
        return std::nullopt;
    const std::string host = HostKeyText(target.host);
    const std::string port = "vxi11 " + host + " " + Upper(target.device);
    return LineKey{port, "host " + host, port};
}

}  // namespace kio
