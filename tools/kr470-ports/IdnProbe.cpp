#include "IdnProbe.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>

#include "SerialDevice.h"

namespace kr470 {
namespace {

std::string Refusal(const serialio::OpenFailure& why) {
    if (why.error == EBUSY) {
        return why.holder > 0 ? "busy: held by PID " + std::to_string(why.holder)
                              : "busy: another program has the port open";
    }
    if (why.lockRefused) {
        return "no lock file in the folder KR470_LOCK_DIR names";
    }
    return std::string("cannot open: ") + std::strerror(why.error);
}

// Reads up to the first LF, or until the deadline. A CR before it is dropped.
ProbeResult ReadReply(serialio::SerialDevice& port, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    std::array<char, 256> chunk{};
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return {false, "no answer within " + std::to_string(timeoutMs) + " ms"};
        }
        serialio::Transfer read = port.Read(chunk, static_cast<uint32_t>(left.count()));
        if (read.state == serialio::IoState::kFailed) {
            return {false, "the line dropped"};
        }
        line.append(chunk.data(), read.count);
        if (size_t lf = line.find('\n'); lf != std::string::npos) {
            line.resize(lf);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return {true, line};
        }
    }
}

}  // namespace

ProbeResult AskIdentification(const std::string& device, const serialio::LineConfig& settings,
                              int timeoutMs) {
    // Opened as every other program of ours opens a port: its lock file, flock
    // and exclusive mode, so a running update is never interrupted.
    serialio::SerialDevice port;
    serialio::OpenFailure why;
    if (!port.Open(device, why)) {
        return {false, Refusal(why)};
    }
    if (!port.Configure(settings) || !port.Purge()) {
        return {false, "cannot set the line to these settings"};
    }
    port.RaiseModemLines();  // as the open left them: an instrument may wait for DTR
    constexpr std::string_view kQuery = "*IDN?\n";
    if (port.Write(kQuery, static_cast<uint32_t>(timeoutMs)).state != serialio::IoState::kOk) {
        return {false, std::string("cannot write: ") + std::strerror(port.LastError())};
    }
    return ReadReply(port, timeoutMs);
}

}  // namespace kr470
