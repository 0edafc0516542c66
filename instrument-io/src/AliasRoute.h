// Routing through the [aliases] section: any address (GPIB ones need one) may
// lead to a serial port or socket, also through another alias.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <kio/Session.h>

#include "Config.h"

namespace kio {

// Follows the [aliases] routes from `address` to the address they end at,
// written as in the configuration (a device path keeps its case). Nothing,
// with `result` saying why, when the routes go round or run too long.
std::optional<std::string> FollowAliases(const Config& config, std::string_view address,
                                         Result& result);

// What to add to the configuration when `routed` (reached from `address`)
// names a bus that is only reachable through an alias.
std::string NoRouteMessage(std::string_view address, const std::string& routed);

}  // namespace kio
