// A small instrument-I/O library: one session per instrument, addressed by a
// resource text. Serial ports, raw TCP sockets, VXI-11 LAN instruments, and
// GPIB instruments behind a "++" controller (or routed by an alias to a port
// or socket).
//
//   ASRL<n>[::INSTR]                 serial port n (device and settings from the configuration)
//   ASRL/dev/ttyUSB0::INSTR          a serial device by path
//   TCPIP[board]::host::port::SOCKET a raw TCP socket
//   TCPIP[board]::host[::lan-device][::INSTR]  a VXI-11 instrument
//   GPIB[board]::primary[::secondary][::INSTR]  through the board's "++" controller, or an alias
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <kio/Export.h>

namespace kio {

// A configuration file holds a few dozen lines; anything larger is not one.
inline constexpr uint64_t kLargestConfigFile = 1024 * 1024;
// The longest reply line a session takes, far above any real reply. A longer
// one fails the read, and the rest of that line is discarded as it arrives.
inline constexpr size_t kLongestReply = 1024 * 1024;

enum class Status { kOk, kTimeout, kIoError, kBadAddress, kNotFound, kConfig };

struct Result {
    Status status = Status::kOk;
    std::string message;  // for the user: what failed, with the address
    bool ok() const { return status == Status::kOk; }
};

class Transport;

class KIO_API Session {
  public:
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    static constexpr uint32_t kConnectTimeoutMs = 5000;

    // Opens the instrument at `address`, a network connection (name lookup
    // included) within `connectTimeoutMs`. On failure `result` says why.
    static std::unique_ptr<Session> Open(std::string_view address, Result& result,
                                         uint32_t connectTimeoutMs = kConnectTimeoutMs);

    const std::string& Address() const { return address_; }
    // "ASRL" for serial ports, "TCPIP" for sockets, "GPIB" for GPIB instruments.
    const std::string& InterfaceKind() const { return kind_; }
    void SetTimeout(uint32_t milliseconds) { timeoutMs_ = milliseconds; }
    uint32_t Timeout() const { return timeoutMs_; }

    // Sends one line; the LF terminator is added here.
    Result Write(std::string_view line);
    // Reads one reply line within the time-out, terminator (LF, and a CR
    // before it) removed. A line longer than kLongestReply fails the read.
    Result ReadLine(std::string& line);
    Result Query(std::string_view line, std::string& reply);
    // From another thread: ends the wait of a Write or read under way and
    // fails every later one: at once over VXI-11 and sockets, within a
    // quarter of a second on a serial line or behind a GPIB controller (which
    // goes on serving the sessions of its other instruments).
    void Interrupt();

  private:
    Session(std::string address, std::string kind, std::unique_ptr<Transport> transport);
    std::string address_;
    std::string kind_;
    std::unique_ptr<Transport> transport_;
    uint32_t timeoutMs_ = 2000;
    // Takes the first whole line out of pending_; false when there is none yet.
    bool TakeLine(std::string& line);
    // Adds bytes read, dropping those of an over-long line still arriving.
    void Append(std::string_view bytes);
    // ": " and the transport's own account of a failure, when it has one.
    std::string Detail() const;

    std::string pending_;      // bytes after the last line read
    size_t scanned_ = 0;       // pending_'s bytes already searched for a line end
    bool discarding_ = false;  // the rest of an over-long line is being dropped
};

// The configuration file in force: KIO_CONFIG, else
// ${XDG_CONFIG_HOME:-~/.config}/instrument-io/config.ini
// (%APPDATA%\instrument-io\config.ini on Windows).
KIO_API std::string ConfigPath();

// The addresses the configuration names: its aliases, its ASRL<n> sections,
// its VXI-11 hosts and the instruments its GPIB boards' scan lists name. What
// keeps a scan list from being read goes into `problems` when given.
KIO_API std::vector<std::string> ConfiguredAddresses(std::vector<std::string>* problems = nullptr);

}  // namespace kio
