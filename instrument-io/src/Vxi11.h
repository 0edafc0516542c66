// VXI-11 LAN instruments: "TCPIP[board]::host[::lan-device][::INSTR]" over the
// core channel (create_link, device_write, device_read, destroy_link).
//
// Configuration keys (section names ignore case):
//   [tcpip]        vxi11_port  = N            core channel of every host on port N
//   [tcpip::HOST]  vxi11_port  = N            core channel of HOST on port N
//   [tcpip]        vxi11_hosts = h1, h2 ...   hosts the finder lists as TCPIP0::h::INSTR
// Without a port key the core port comes from the host's portmapper (port 111).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BusTable.h"
#include "Transport.h"

namespace kio {

inline constexpr const char* kDefaultLanDevice = "inst0";

struct Vxi11Target {
    std::string host;
    std::string device;  // the LAN device name, "inst0" when the address names none
};

// Reads a VXI-11 address from its parts (as written; a trailing "INSTR" is
// allowed). False with `why` when the form is not right.
bool ParseVxi11Address(const std::vector<std::string>& written, Vxi11Target& target,
                       std::string& why);

// The VXI-11 address an opener was asked for: false with `failure`
// kBadAddress and `why` when its form is not right, else `failure` is
// kNotFound (what fails from here on is the connection).
bool ReadVxi11Request(const BusRequest& request, Vxi11Target& target, BusFailure& failure,
                      std::string& why);

// The core channel's port for `host` from the configuration: empty when it
// names none (ask the portmapper). False with `why` when the value is no port.
bool ConfiguredCorePort(const Config& config, const std::string& host, std::string& port,
                        std::string& why);

// The finder's VXI-11 addresses: the hosts of [tcpip] vxi11_hosts.
std::vector<std::string> Vxi11HostAddresses(const Config& config);

// The TCP port the portmapper on `host` (port 111) gives for
// program/version, within `timeoutMs`; empty with `why` set when there is none.
// (Implemented with the RPC client; declared here, free of RPC types.)
std::string PortFromPortmapper(const std::string& host, uint32_t program, uint32_t version,
                               uint32_t timeoutMs, std::string& why);

std::unique_ptr<Transport> OpenVxi11Address(const BusRequest& request, BusFailure& failure,
                                            std::string& why);
std::optional<LineKey> KeyOfVxi11Address(const BusRequest& request);

// A link to `device` on the core channel at host:port, made within
// `timeoutMs`.
std::unique_ptr<Transport> OpenVxi11(const std::string& host, const std::string& port,
                                     const std::string& device, uint32_t timeoutMs,
                                     std::string& why);

}  // namespace kio
