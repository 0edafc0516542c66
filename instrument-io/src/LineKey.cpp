#include "LineKey.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <array>
#include <filesystem>

#include "Address.h"
#include "NameLookup.h"

namespace kio {
namespace {

// A device by its real path: a link and its target are one port.
std::string RealDevice(const std::string& device) {
    std::error_code error;
    std::filesystem::path real = std::filesystem::weakly_canonical(device, error);
    return error ? device : real.string();
}

// The device a serial address names; empty for a port number no device has.
std::string SerialDevice(const Config& config, const std::string& routed) {
    std::string port = SplitAddress(routed)[0].substr(4);
    if (!AllDigits(port)) {
        return port;  // a device path as written
    }
    std::string device = Lookup(config, "ASRL" + port, "DEVICE");
    return device.empty() ? NumberedSerialDevice(port) : device;
}

constexpr uint32_t kNameLookupMs = 5000;

// A name as the address it is reached by, so that a name and its address are
// one host: the lowest IPv4 address it has, else its lowest IPv6 one (a
// loopback name has both). A name that cannot be looked up stays a name.
std::string ResolvedHost(const std::string& name) {
    std::string why, chosen;
    bool chosenIsV4 = false;
    AddressList found = LookUpWithin(name, "0", kNameLookupMs, why);
    for (const addrinfo* at = found.get(); at != nullptr; at = at->ai_next) {
        std::array<char, NI_MAXHOST> text{};
        if (getnameinfo(at->ai_addr, at->ai_addrlen, text.data(), text.size(), nullptr, 0,
                        NI_NUMERICHOST) != 0) {
            continue;
        }
        const bool isV4 = at->ai_family == AF_INET;
        if (chosen.empty() || (isV4 && !chosenIsV4) ||
            (isV4 == chosenIsV4 && text.data() < chosen)) {
            chosen = text.data();
            chosenIsV4 = isV4;
        }
    }
    return chosen.empty() ? Upper(name) : chosen;
}

// A numeric host in its one written form; a name as the address it reaches.
std::string HostText(const std::string& host) {
    std::array<unsigned char, 16> address{};
    std::array<char, INET6_ADDRSTRLEN> text{};
    for (int family : {AF_INET, AF_INET6}) {
        if (inet_pton(family, host.c_str(), address.data()) == 1 &&
            inet_ntop(family, address.data(), text.data(), text.size()) != nullptr) {
            return text.data();
        }
    }
    return ResolvedHost(host);
}

std::optional<LineKey> KeyOfRouted(const Config& config, const std::string& routed, int hops);

// A number part in one written form ("010" is 10); empty when it is none.
std::string NumberText(const std::string& part) {
    if (part.empty() || part.size() > 3 || !AllDigits(part))
        return {};
    return std::to_string(std::stoi(part));
}

// An instrument behind a board's "++" controller: its own port is the board's
// line and its GPIB address; it shares its host with everything on that line.
std::optional<LineKey> KeyOfGpib(const Config& config, const std::vector<std::string>& parts,
                                 int hops) {
    const std::string number = parts[0].substr(4);
    const std::string controller =
        Trim(Lookup(config, "GPIB" + (number.empty() ? "0" : number), "CONTROLLER"));
    const std::string primary = parts.size() > 1 ? NumberText(parts[1]) : std::string();
    if (controller.empty() || primary.empty() || hops > 0)
        return std::nullopt;
    std::optional<LineKey> line = KeyOfRouted(config, controller, hops + 1);
    if (!line)
        return std::nullopt;
    std::string secondary = parts.size() > 2 ? NumberText(parts[2]) : std::string();
    std::string instrument = " gpib " + primary + (secondary.empty() ? "" : "," + secondary);
    return LineKey{line->port + instrument, line->host, line->port};
}

std::optional<LineKey> KeyOfRouted(const Config& config, const std::string& routed, int hops) {
    std::vector<std::string> parts = SplitAddress(Canonical(routed));
    std::vector<std::string> written = SplitAddress(routed);
    if (parts[0].starts_with("ASRL") && parts[0].size() > 4) {
        const std::string named = SerialDevice(config, routed);
        if (named.empty())
            return std::nullopt;
        std::string device = RealDevice(named);
        return LineKey{"serial " + device, "serial " + device, "serial " + device};
    }
    if (parts[0].starts_with("TCPIP") && parts.size() == 4 && parts[3] == "SOCKET" &&
        AllDigits(parts[2]) && !parts[2].empty() && parts[2].size() < 6) {
        std::string host = HostText(written[1]);
        const std::string port = "tcp " + host + ":" + std::to_string(std::stoi(parts[2]));
        return LineKey{port, "host " + host, port};
    }
    if (parts[0].starts_with("GPIB"))
        return KeyOfGpib(config, parts, hops);
    if (parts[0].starts_with("TCPIP") &&
        (parts.size() == 2 || parts.size() == 3 || (parts.size() == 4 && parts[3] == "INSTR"))) {
        // A LAN instrument: one host may serve several devices (a gateway's gpib0,5).
        std::string host = HostText(written[1]);
        bool named = parts.size() > 2 && parts[2] != "INSTR";
        const std::string port = "vxi11 " + host + " " + (named ? parts[2] : "INST0");
        return LineKey{port, "host " + host, port};
    }
    return std::nullopt;
}

}  // namespace

std::optional<LineKey> KeyOfLine(const Config& config, const std::string& routed) {
    return KeyOfRouted(config, routed, 0);
}

}  // namespace kio
