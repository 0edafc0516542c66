// Which rows would share a port: each row keyed by the line its address
// reaches (the instrument-I/O library says which, for every bus it has).
#pragma once

#include <string>
#include <vector>

#include <kio/LineKey.h>

#include "Plan.h"

namespace fleet {

// The line a row's address ends at; an address no bus here knows keys as
// its routed address.
using PortKey = kio::LineKey;

// The key of each row's address under the instrument-I/O configuration in
// force (read once). An address whose route cannot be followed keys as
// itself: opening it will say why it fails.
std::vector<PortKey> KeysOfRows(const std::vector<PlanRow>& rows);

// One sentence per pair of rows that reach the same port, naming both rows;
// empty when every row has a port of its own.
std::vector<std::string> SharedPorts(const std::vector<PlanRow>& rows,
                                     const std::vector<PortKey>& keys);

// How many distinct hosts (or serial ports) the keys name.
size_t DistinctHosts(const std::vector<PortKey>& keys);

}  // namespace fleet
