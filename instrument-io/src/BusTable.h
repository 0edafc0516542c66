// The buses an address may name, picked by the start of its first part. A
// new bus is a file with its opener and one row in the table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Config.h"
#include "Transport.h"

namespace kio {

// An address after alias routing, ready for its bus.
struct BusRequest {
    const Config& config;
    const std::string& routed;                // trimmed, written as in the configuration
    const std::vector<std::string>& parts;    // of the canonical address
    const std::vector<std::string>& written;  // of `routed`, case as written
    uint32_t connectTimeoutMs;
};

enum class BusFailure {
    kBadAddress,  // the address does not have this bus's form
    kNoRoute,     // the bus is only reachable through an alias
    kNotFound,    // the form is right but the connection failed; `why` says how
};

using BusOpener = std::unique_ptr<Transport> (*)(const BusRequest& request, BusFailure& failure,
                                                 std::string& why);

struct Bus {
    std::string_view prefix;  // of the canonical address's first part
    std::string_view kind;    // the session's interface kind
    BusOpener open;
};

// The bus for an address whose first part (upper case) is `firstPart`, or
// nullptr when no bus takes it.
const Bus* FindBus(std::string_view firstPart);

// The openers, one file each.
std::unique_ptr<Transport> OpenAsrlAddress(const BusRequest& request, BusFailure& failure,
                                           std::string& why);
std::unique_ptr<Transport> OpenTcpipAddress(const BusRequest& request, BusFailure& failure,
                                            std::string& why);
std::unique_ptr<Transport> OpenGpibAddress(const BusRequest& request, BusFailure& failure,
                                           std::string& why);

}  // namespace kio
