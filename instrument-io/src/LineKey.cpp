// The line an address ends at: aliases followed here, the rest said by the
// address's bus (each bus's file holds its own key beside its opener).
#include <array>
#include <optional>

#include <kio/LineKey.h>

#include "Address.h"
#include "AliasRoute.h"
#include "BusTable.h"
#include "NameLookup.h"
#include "Sockets.h"

namespace kio {
namespace {

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

// An address no bus here takes in the form given, or whose route cannot be
// followed, keys as its routed address: opening it will say why it fails.
LineKey KeyOfAddress(const Config& config, const std::string& address) {
    Result result;
    std::optional<std::string> routed = FollowAliases(config, address, result);
    if (routed && !Trim(*routed).empty()) {
        if (std::optional<LineKey> key = KeyOfLine(config, Trim(*routed)))
            return *key;
    }
    const std::string canonical = Canonical(routed ? *routed : address);
    return LineKey{canonical, canonical, canonical};
}

}  // namespace

std::string HostKeyText(const std::string& host) {
    StartSockets();
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

std::optional<LineKey> KeyOfLine(const Config& config, const std::string& routed) {
    const BusAddress address = SplitForBus(routed);
    if (address.bus == nullptr)
        return std::nullopt;
    return address.bus->key({config, routed, address.parts, address.written, kNameLookupMs});
}

std::vector<LineKey> LineKeysOf(const std::vector<std::string>& addresses) {
    Config config;
    std::string problem;
    ReadConfig(config, problem);  // a configuration that cannot be read routes nothing
    std::vector<LineKey> keys;
    keys.reserve(addresses.size());
    for (const std::string& address : addresses)
        keys.push_back(KeyOfAddress(config, address));
    return keys;
}

}  // namespace kio
