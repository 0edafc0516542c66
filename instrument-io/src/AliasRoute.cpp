#include "AliasRoute.h"

#include <algorithm>
#include <vector>

#include "Address.h"

namespace kio {
namespace {

// Two hops cover a board alias in front of an instrument alias; eight leave
// room for any real configuration while a mistake still ends quickly.
constexpr size_t kMaxAliasHops = 8;

std::string Joined(const std::vector<std::string>& chain) {
    std::string text;
    for (const std::string& step : chain)
        text += (text.empty() ? "" : " -> ") + step;
    return text;
}

}  // namespace

std::optional<std::string> FollowAliases(const Config& config, std::string_view address,
                                         Result& result) {
    std::vector<std::string> chain = {Trim(address)};
    std::vector<std::string> seen = {Canonical(address)};
    auto aliases = config.find("ALIASES");
    while (aliases != config.end()) {
        auto next =
            std::find_if(aliases->second.begin(), aliases->second.end(),
                         [&](const auto& alias) { return Canonical(alias.first) == seen.back(); });
        if (next == aliases->second.end())
            break;
        chain.push_back(next->second);
        const bool loop =
            std::find(seen.begin(), seen.end(), Canonical(next->second)) != seen.end();
        if (loop || chain.size() > kMaxAliasHops + 1) {
            result = {
                Status::kConfig,
                "Cannot open " + chain.front() + ": " +
                    (loop ? "the aliases go round in a loop ("
                          : "more than " + std::to_string(kMaxAliasHops) + " aliases in a row (") +
                    Joined(chain) + ") in the [aliases] section of " + ConfigPath()};
            return std::nullopt;
        }
        seen.push_back(Canonical(next->second));
    }
    return chain.back();
}

std::string NoRouteMessage(std::string_view address, const std::string& routed) {
    std::string reached = Canonical(routed) == Canonical(address)
                              ? ""
                              : " (reached from " + std::string(address) + " through an alias)";
    // Only a GPIB address lacks a route: its board has no controller either.
    const std::string board = routed.substr(0, routed.find("::"));
    return "No route to " + routed + reached + ": add a line \"" + routed +
           " = TCPIP0::host::port::SOCKET\" (or an ASRL address) to the [aliases] section of " +
           ConfigPath() + ", or a [" + (board.size() == 4 ? "GPIB0" : board) +
           "] section with \"controller = ASRL/dev/ttyUSB0::INSTR\" (or a "
           "TCPIP0::host::port::SOCKET address) naming the board's \"++\" controller";
}

}  // namespace kio
