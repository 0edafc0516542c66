#include "IdnProbe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <utility>

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

bool Configure(int fd, const LineSettings& s) {
    termios tio{};
    speed_t speed{};
    if (tcgetattr(fd, &tio) != 0 || !SpeedOf(s.baud, speed)) {
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= s.dataBits == 7 ? CS7 : CS8;
    tio.c_cflag |= s.parity != 'N' ? PARENB : 0;
    tio.c_cflag |= s.parity == 'O' ? PARODD : 0;
    tio.c_cflag |= s.stopBits == 2 ? CSTOPB : 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return tcsetattr(fd, TCSANOW, &tio) == 0 && tcflush(fd, TCIOFLUSH) == 0;
}

// Reads up to the first LF, or until the deadline. A CR before it is dropped.
ProbeResult ReadReply(int fd, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    std::array<char, 256> chunk{};
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd pfd{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            return {false, "no answer within " + std::to_string(timeoutMs) + " ms"};
        }
        ssize_t n = read(fd, chunk.data(), chunk.size());
        if (n <= 0 && errno != EAGAIN && errno != EINTR) {
            return {false, "the line dropped"};
        }
        line.append(chunk.data(), n > 0 ? static_cast<size_t>(n) : 0);
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
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {false, std::string("cannot open: ") + std::strerror(errno)};
    }
    ProbeResult result;
    if (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
        result = {false, "in use"};
    } else if (!Configure(fd, settings)) {
        result = {false, "cannot set the line to these settings"};
    } else if (write(fd, "*IDN?\n", 6) != 6) {
        result = {false, std::string("cannot write: ") + std::strerror(errno)};
    } else {
        result = ReadReply(fd, timeoutMs);
    }
    close(fd);
    return result;
}

}  // namespace kr470
