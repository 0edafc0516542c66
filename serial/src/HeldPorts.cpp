#include "HeldPorts.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>

#include "LockFile.h"

namespace serialio {
namespace {

constexpr size_t kSlots = kMostHeldPorts;
constexpr int kFilling = -2;  // a slot claimed by a thread that is still filling it in

struct HeldPort {
    std::atomic<int> fd{-1};
    SavedTermios saved;
    std::array<char, 256> lockPath{};
};
static_assert(std::atomic<int>::is_always_lock_free);

std::array<HeldPort, kSlots> held;

}  // namespace

int HoldPort(int fd, const SavedTermios& saved, std::string_view lockPath) {
    for (size_t i = 0; i < kSlots; ++i) {
        // Claimed before it is filled: threads opening ports at once never share a slot.
        int free = -1;
        if (!held[i].fd.compare_exchange_strong(free, kFilling)) {
            continue;
        }
        held[i].saved = saved;
        size_t length = std::min(lockPath.size(), held[i].lockPath.size() - 1);
        lockPath.copy(held[i].lockPath.data(), length);
        held[i].lockPath[length] = '\0';
        held[i].fd.store(fd);  // published last: a handler sees the slot whole
        return static_cast<int>(i);
    }
    return -1;
}

void ForgetPort(int slot) {
    if (slot >= 0 && static_cast<size_t>(slot) < kSlots) {
        held[static_cast<size_t>(slot)].fd.store(-1);
    }
}

void ReleaseHeldPortsNow() {
    for (HeldPort& port : held) {
        int fd = port.fd.exchange(-1);
        if (fd < 0) {
            continue;
        }
        tcflush(fd, TCIOFLUSH);  // so the close does not wait for the line to drain
        RestoreTermios(fd, port.saved);
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        if (port.lockPath[0] != '\0') {
            ReleaseLock(port.lockPath.data());
        }
    }
}

}  // namespace serialio
