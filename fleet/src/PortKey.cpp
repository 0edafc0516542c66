#include "PortKey.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <array>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "Address.h"
#include "AliasRoute.h"
#include "Config.h"
#include "NameLookup.h"

namespace fleet {
namespace {

// A device by its real path: a link and its target are one port.
std::string RealDevice(const std::string& device) {
    std::error_code error;
    std::filesystem::path real = std::filesystem::weakly_canonical(device, error);
    return error ? device : real.string();
}

std::string SerialDevice(const kio::Config& config, const std::string& routed) {
    std::string port = kio::SplitAddress(routed)[0].substr(4);
    if (!kio::AllDigits(port)) {
        return port;  // a device path as written
    }
    std::string device = kio::Lookup(config, "ASRL" + port, "DEVICE");
    return device.empty() ? "/dev/ttyS" + std::to_string(std::stoi(port) - 1) : device;
}

constexpr uint32_t kNameLookupMs = 5000;

// A name as the address it is reached by, so that a name and its address are
// one host: the lowest IPv4 address it has, else its lowest IPv6 one (a
// loopback name has both). A name that cannot be looked up stays a name.
std::string ResolvedHost(const std::string& name) {
    std::string why, chosen;
    bool chosenIsV4 = false;
    kio::AddressList found = kio::LookUpWithin(name, "0", kNameLookupMs, why);
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
    return chosen.empty() ? kio::Upper(name) : chosen;
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

std::optional<PortKey> KeyOfRouted(const kio::Config& config, const std::string& routed,
                                   int hops = 0);

// A number part in one written form ("010" is 10); empty when it is none.
std::string NumberText(const std::string& part) {
    if (part.empty() || part.size() > 3 || !kio::AllDigits(part))
        return {};
    return std::to_string(std::stoi(part));
}

// An instrument behind a board's "++" controller: its own port is the board's
// line and its GPIB address; it shares its host with everything on that line.
std::optional<PortKey> KeyOfGpib(const kio::Config& config, const std::vector<std::string>& parts,
                                 int hops) {
    const std::string number = parts[0].substr(4);
    const std::string controller =
        kio::Trim(kio::Lookup(config, "GPIB" + (number.empty() ? "0" : number), "CONTROLLER"));
    const std::string primary = parts.size() > 1 ? NumberText(parts[1]) : std::string();
    if (controller.empty() || primary.empty() || hops > 0)
        return std::nullopt;
    std::optional<PortKey> line = KeyOfRouted(config, controller, hops + 1);
    if (!line)
        return std::nullopt;
    std::string secondary = parts.size() > 2 ? NumberText(parts[2]) : std::string();
    std::string instrument = " gpib " + primary + (secondary.empty() ? "" : "," + secondary);
    return PortKey{line->port + instrument, line->host};
}

std::optional<PortKey> KeyOfRouted(const kio::Config& config, const std::string& routed, int hops) {
    std::vector<std::string> parts = kio::SplitAddress(kio::Canonical(routed));
    std::vector<std::string> written = kio::SplitAddress(routed);
    if (parts[0].starts_with("ASRL") && parts[0].size() > 4) {
        std::string device = RealDevice(SerialDevice(config, routed));
        return PortKey{"serial " + device, "serial " + device};
    }
    if (parts[0].starts_with("TCPIP") && parts.size() == 4 && parts[3] == "SOCKET" &&
        kio::AllDigits(parts[2]) && !parts[2].empty() && parts[2].size() < 6) {
        std::string host = HostText(written[1]);
        return PortKey{"tcp " + host + ":" + std::to_string(std::stoi(parts[2])), "host " + host};
    }
    if (parts[0].starts_with("GPIB"))
        return KeyOfGpib(config, parts, hops);
    if (parts[0].starts_with("TCPIP") &&
        (parts.size() == 2 || parts.size() == 3 || (parts.size() == 4 && parts[3] == "INSTR"))) {
        // A LAN instrument: one host may serve several devices (a gateway's gpib0,5).
        std::string host = HostText(written[1]);
        bool named = parts.size() > 2 && parts[2] != "INSTR";
        return PortKey{"vxi11 " + host + " " + (named ? parts[2] : "INST0"), "host " + host};
    }
    return std::nullopt;
}

PortKey KeyOfAddress(const kio::Config& config, const std::string& address) {
    kio::Result result;
    std::optional<std::string> routed = kio::FollowAliases(config, address, result);
    const std::string canonical = kio::Canonical(routed ? *routed : address);
    if (routed && !kio::Trim(*routed).empty()) {
        if (std::optional<PortKey> key = KeyOfRouted(config, kio::Trim(*routed))) {
            return *key;
        }
    }
    // A bus this tool knows nothing of: its routed address is its port.
    return PortKey{canonical, canonical};
}

}  // namespace

std::vector<PortKey> KeysOfRows(const std::vector<PlanRow>& rows) {
    kio::Config config;
    std::string problem;
    kio::ReadConfig(config, problem);  // a configuration that cannot be read routes nothing
    std::vector<PortKey> keys;
    for (const PlanRow& row : rows) {
        keys.push_back(KeyOfAddress(config, row.address));
    }
    return keys;
}

std::vector<std::string> SharedPorts(const std::vector<PlanRow>& rows,
                                     const std::vector<PortKey>& keys) {
    std::vector<std::string> clashes;
    std::map<std::string, size_t> firstRow;
    for (size_t i = 0; i < rows.size() && i < keys.size(); ++i) {
        auto [at, added] = firstRow.emplace(keys[i].port, i);
        if (!added) {
            const PlanRow& first = rows[at->second];
            clashes.push_back(rows[i].origin + ": " + rows[i].address + " reaches the port of " +
                              first.origin + " (" + first.address + "): " + keys[i].port);
        }
    }
    return clashes;
}

size_t DistinctHosts(const std::vector<PortKey>& keys) {
    std::set<std::string> hosts;
    for (const PortKey& key : keys) {
        hosts.insert(key.host);
    }
    return hosts.size();
}

}  // namespace fleet
