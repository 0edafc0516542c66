// The buses an address may name, picked by the start of its first part. A
// new bus is a file with its opener and its key, and one row in the table.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <kio/LineKey.h>

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
// Which line or host an address of the bus reaches, found without opening
// anything; none when the address does not have the bus's form.
using BusKey = std::optional<LineKey> (*)(const BusRequest& request);

struct Bus {
    std::string_view prefix;  // of the canonical address's first part
    std::string_view kind;    // the session's interface kind
    BusOpener open;
    BusKey key;
};

// The bus for an address whose first part (upper case) is `firstPart`, or
// nullptr when no bus takes it.
const Bus* FindBus(std::string_view firstPart);

// An address split for its bus: the parts of its canonical form, the parts
// as written, and the bus its first part names (nullptr when none does).
struct BusAddress {
    std::vector<std::string> parts;
    std::vector<std::string> written;
    const Bus* bus;
};
BusAddress SplitForBus(const std::string& routed);

// The key of an address after its aliases (`routed`, trimmed), by its bus;
// none for a bus not known here or an address whose form is not right.
std::optional<LineKey> KeyOfLine(const Config& config, const std::string& routed);

// A host as keys name it: a numeric address in its one written form, a name
// as the address it reaches (a name that cannot be looked up stays a name).
std::string HostKeyText(const std::string& host);

// The openers and keys, one file a bus.
std::unique_ptr<Transport> OpenAsrlAddress(const BusRequest& request, BusFailure& failure,
                                           std::string& why);
std::optional<LineKey> KeyOfAsrlAddress(const BusRequest& request);
std::unique_ptr<Transport> OpenTcpipAddress(const BusRequest& request, BusFailure& failure,
                                            std::string& why);
std::optional<LineKey> KeyOfTcpipAddress(const BusRequest& request);
std::unique_ptr<Transport> OpenGpibAddress(const BusRequest& request, BusFailure& failure,
                                           std::string& why);
std::optional<LineKey> KeyOfGpibAddress(const BusRequest& request);

}  // namespace kio
