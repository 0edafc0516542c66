// The portmapper's one question a VXI-11 client asks: on which TCP port is
// the core channel? Answers calls of program 100000 version 2.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kr470 {

inline constexpr uint16_t kPortmapperPort = 111;

// The reply record to a call record, or nothing for a record that is no
// call. GETPORT of the core channel (0x0607AF, version 1, TCP) gives
// `corePort`; any other program 0, as the portmapper says "not registered".
std::optional<std::string> AnswerPortmapperCall(std::string_view call, uint16_t corePort);

}  // namespace kr470
