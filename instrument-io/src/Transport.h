// One bus connection under a session: bytes out, bytes in within a wait.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace kio {

// How often a wait that cannot be woken looks whether it was interrupted.
inline constexpr uint32_t kInterruptCheckMs = 250;

class Transport {
  public:
    virtual ~Transport() = default;
    virtual bool WriteAll(std::span<const char> bytes, uint32_t timeoutMs) = 0;
    // Waits up to waitMs (in poll) for bytes; returns the count, 0 on time-out,
    // -1 when the connection failed or dropped.
    virtual long ReadSome(std::span<char> into, uint32_t waitMs) = 0;
    // What went wrong beyond the connection itself, after a failure; empty when nothing more is
    // known.
    virtual std::string Problem() const { return {}; }
    // Sends each write at once rather than gathering small ones (a socket's
    // default), for a peer that is written twice before it answers.
    virtual void SendPromptly() {}
    // From another thread: ends a wait under way at once (a serial line or a
    // GPIB controller within kInterruptCheckMs) and fails every later one (a
    // stop). The connection is given up.
    virtual void Interrupt() {}
};

// A serial device in raw mode, opened exclusively (lock file included).
// `settings` like "9600,N,8,1" (any baud rate); `handshake` NONE, XON_XOFF,
// RTS_CTS or DTR_DSR, empty for NONE.
std::unique_ptr<Transport> OpenSerial(const std::string& device, const std::string& settings,
                                      const std::string& handshake, std::string& why);
// A TCP connection to host:port; the name lookup and the connect together
// take no longer than `timeoutMs`.
std::unique_ptr<Transport> OpenTcp(const std::string& host, const std::string& port,
                                   uint32_t timeoutMs, std::string& why);
// The same connection as a connected socket (non-blocking, close-on-exec),
// or -1 with `why` set.
int ConnectTcp(const std::string& host, const std::string& port, uint32_t timeoutMs,
               std::string& why);

}  // namespace kio
