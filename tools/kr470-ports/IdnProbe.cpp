#include "IdnProbe.h"

#include <termios.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <string_view>
#include <utility>

#include "SerialDevice.h"

namespace kr470 {
namespace {

constexpr std::pair<int, speed_t> kSpeeds[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool SpeedOf(int baud, speed_t& speed) {
    for (auto [rate, code] : kSpeeds) {
        if (rate == baud) {
            speed = code;
            return true;
        }
    }
    return false;
}

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

serialio::LineConfig ConfigOf(const LineSettings& s) {
    serialio::LineConfig config;
    config.baud = static_cast<uint32_t>(s.baud);
    config.parity = s.parity;
    config.dataBits = static_cast<uint8_t>(s.dataBits);
    config.stopBits = static_cast<uint8_t>(s.stopBits);
    config.handshake = serialio::Handshake::kNone;
    return config;
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

bool ParseLineSettings(const std::string& text, LineSettings& settings) {
    std::istringstream in(text);
    std::string item;
    for (int index = 0; std::getline(in, item, ','); ++index) {
        if (item.empty())
            continue;
        char first = static_cast<char>(std::toupper(static_cast<unsigned char>(item[0])));
        int number = std::atoi(item.c_str());
        if (index == 0 && number > 0)
            settings.baud = number;
        else if (index == 1 && item.size() == 1 && std::strchr("NOE", first) != nullptr)
            settings.parity = first;
        else if (index == 2 && (number == 7 || number == 8))
            settings.dataBits = number;
        else if (index == 3 && (number == 1 || number == 2))
            settings.stopBits = number;
        else
            return false;
    }
    speed_t speed{};
    return SpeedOf(settings.baud, speed);
}

ProbeResult AskIdentification(const std::string& device, const LineSettings& settings,
                              int timeoutMs) {
    // Opened as every other program of ours opens a port: its lock file, flock
    // and exclusive mode, so a running update is never interrupted.
    serialio::SerialDevice port;
    serialio::OpenFailure why;
    if (!port.Open(device, why)) {
        return {false, Refusal(why)};
    }
    if (!port.Configure(ConfigOf(settings)) || !port.Purge()) {
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
