#include "PortKey.h"

#include <map>
#include <set>

namespace fleet {

std::vector<PortKey> KeysOfRows(const std::vector<PlanRow>& rows) {
    std::vector<std::string> addresses;
    addresses.reserve(rows.size());
    for (const PlanRow& row : rows) {
        addresses.push_back(row.address);
    }
    return kio::LineKeysOf(addresses);
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
