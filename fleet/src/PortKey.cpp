#include "PortKey.h"

#include <map>
#include <optional>
#include <set>

#include "Address.h"
#include "AliasRoute.h"
#include "Config.h"

namespace fleet {
namespace {

// A bus this tool knows nothing of, or a route that cannot be followed, keys
// as its routed address: opening it will say why it fails.
PortKey KeyOfAddress(const kio::Config& config, const std::string& address) {
    kio::Result result;
    std::optional<std::string> routed = kio::FollowAliases(config, address, result);
    const std::string canonical = kio::Canonical(routed ? *routed : address);
    if (routed && !kio::Trim(*routed).empty()) {
        if (std::optional<PortKey> key = kio::KeyOfLine(config, kio::Trim(*routed))) {
            return *key;
        }
    }
    return PortKey{canonical, canonical, canonical};
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
