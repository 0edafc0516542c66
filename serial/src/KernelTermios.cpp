#include "KernelTermios.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstring>

namespace serialio {
namespace {

static_assert(sizeof(termios2) <= sizeof(SavedTermios::bytes));

struct StandardRate {
    uint32_t baud;
    tcflag_t code;
};
constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000}};

tcflag_t CodeFor(uint32_t baud) {
    for (const StandardRate& rate : kStandardRates) {
        if (rate.baud == baud) {
            return rate.code;
        }
    }
    return BOTHER;
}

}  // namespace

bool SaveTermios(int fd, SavedTermios& saved) {
    termios2 settings{};
    saved.valid = ioctl(fd, TCGETS2, &settings) == 0;
    if (saved.valid) {
        std::memcpy(saved.bytes.data(), &settings, sizeof settings);
    }
    return saved.valid;
}

bool RestoreTermios(int fd, const SavedTermios& saved) {
    if (!saved.valid) {
        return false;
    }
    termios2 settings;
    std::memcpy(&settings, saved.bytes.data(), sizeof settings);
    return ioctl(fd, TCSETS2, &settings) == 0;
}

bool SetLineSpeed(int fd, uint32_t baud) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) {
        return false;
    }
    // The input speed follows the output speed (input bits left zero).
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= CodeFor(baud);
    settings.c_ispeed = baud;
    settings.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &settings) == 0;
}

uint32_t GetLineSpeed(int fd) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) {
        return 0;
    }
    return settings.c_ospeed;
}

bool UsesCustomSpeed(int fd) {
    termios2 settings{};
    return ioctl(fd, TCGETS2, &settings) == 0 && (settings.c_cflag & CBAUD) == BOTHER;
}

}  // namespace serialio
