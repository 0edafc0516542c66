// GPIB addresses: "GPIB[board]::primary[::secondary]". The board's section
// names its "++" controller ("controller = ASRL/dev/ttyUSB0::INSTR" or
// "controller = TCPIP0::host::port::SOCKET"); a board without one is reachable
// only through an alias, and fails with advice.
#include <chrono>
#include <map>
#include <mutex>
#include <optional>

#include "Address.h"
#include "BusTable.h"
#include "GpibController.h"
#include "GpibScan.h"

namespace kio {
namespace {

std::optional<GpibTarget> TargetOf(const std::vector<std::string>& parts) {
    if (parts.size() < 2 || parts.size() > 3)
        return std::nullopt;
    GpibTarget target{GpibAddressNumber(parts[1]),
                      parts.size() == 3 ? GpibAddressNumber(parts[2]) : -1};
    if (target.primary < 0 || (parts.size() == 3 && target.secondary < 0))
        return std::nullopt;
    return target;
}

// What a GPIB address names: its board's controller (empty when the board
// has none) and the instrument (none when the address's form is not right).
struct GpibAddress {
    std::string controller;
    std::optional<GpibTarget> target;
};

GpibAddress ReadGpibAddress(const BusRequest& request) {
    const std::string number = request.parts[0].substr(4);
    const std::string board = "GPIB" + (number.empty() ? "0" : number);
    GpibAddress address{Trim(Lookup(request.config, board, "CONTROLLER")), std::nullopt};
    if (AllDigits(board.substr(4)))
        address.target = TargetOf(request.parts);
    return address;
}

// The controller's own address, split for its bus: a serial port or a socket,
// never another GPIB board (its bus is then nullptr).
BusAddress ControllerAddress(const std::string& controller) {
    BusAddress address = SplitForBus(controller);
    if (address.bus != nullptr && address.bus->kind == "GPIB")
        address.bus = nullptr;
    return address;
}

// The controller's own connection, through the bus its address names.
std::unique_ptr<Transport> OpenControllerLink(const BusRequest& request,
                                              const std::string& controller, std::string& why) {
    const BusAddress address = ControllerAddress(controller);
    if (address.bus == nullptr) {
        why = "its controller " + controller +
              " is neither a serial port (ASRL) nor a socket (TCPIP::host::port::SOCKET)";
        return nullptr;
    }
    BusFailure failure = BusFailure::kBadAddress;
    std::unique_ptr<Transport> link = address.bus->open(
        {request.config, controller, address.parts, address.written, request.connectTimeoutMs},
        failure, why);
    if (!link && failure == BusFailure::kBadAddress)
        why = "its controller address " + controller + " is not valid";
    else if (!link)
        why = "its controller " + controller + ": " + why;
    return link;
}

// A board's controller as the sessions share it: the connection while one is
// open, and the last failed attempt to open it.
struct ControllerEntry {
    std::weak_ptr<GpibController> open;
    std::chrono::steady_clock::time_point failedAt{};
    std::string failure;
};

// The controller, shared by every session of the instruments behind it while
// one is open, whichever board names it and however its line is written: a
// controller has one bus and one addressed instrument, so two connections
// would each believe their own "++addr" is in force. Opening happens under
// the lock, so two sessions never open the same controller twice; those that
// waited while an attempt failed take its answer rather than each waiting out
// a connect time-out of their own.
std::shared_ptr<GpibController> SharedController(const BusRequest& request,
                                                 const std::string& controller, std::string& why) {
    static std::mutex mutex;
    static std::map<std::string, ControllerEntry> controllers;
    const auto asked = std::chrono::steady_clock::now();
    const std::optional<LineKey> line = KeyOfLine(request.config, Trim(controller));
    std::lock_guard lock(mutex);
    ControllerEntry& entry = controllers[line ? line->line : Canonical(controller)];
    std::shared_ptr<GpibController> shared = entry.open.lock();
    if (shared && !shared->Broken())
        return shared;
    if (entry.failedAt >= asked) {
        why = entry.failure;
        return nullptr;
    }
    std::unique_ptr<Transport> link = OpenControllerLink(request, controller, why);
    if (!link) {
        entry.failedAt = std::chrono::steady_clock::now();
        entry.failure = why;
        return nullptr;
    }
    // Each message is followed by "++read eoi" before the controller answers.
    link->SendPromptly();
    shared = std::make_shared<GpibController>(std::move(link), Trim(controller));
    entry.open = shared;
    return shared;
}

}  // namespace

std::unique_ptr<Transport> OpenGpibAddress(const BusRequest& request, BusFailure& failure,
                                           std::string& why) {
    const GpibAddress gpib = ReadGpibAddress(request);
    if (gpib.controller.empty()) {
        failure = BusFailure::kNoRoute;
        return nullptr;
    }
    if (!gpib.target) {
        failure = BusFailure::kBadAddress;
        return nullptr;
    }
    failure = BusFailure::kNotFound;
    std::shared_ptr<GpibController> shared = SharedController(request, gpib.controller, why);
    if (!shared)
        return nullptr;
    return MakeGpibTransport(std::move(shared), *gpib.target);
}

// An instrument behind a board's "++" controller: its own port is the
// controller's line and its GPIB address; it shares its host with everything
// on that line.
std::optional<LineKey> KeyOfGpibAddress(const BusRequest& request) {
    const GpibAddress gpib = ReadGpibAddress(request);
    if (gpib.controller.empty() || !gpib.target)
        return std::nullopt;
    const BusAddress address = ControllerAddress(gpib.controller);
    if (address.bus == nullptr)
        return std::nullopt;
    std::optional<LineKey> line = address.bus->key({request.config, gpib.controller, address.parts,
                                                    address.written, request.connectTimeoutMs});
    if (!line)
        return std::nullopt;
    std::string instrument = " gpib " + std::to_string(gpib.target->primary);
    if (gpib.target->secondary >= 0)
        instrument += "," + std::to_string(gpib.target->secondary);
    return LineKey{line->port + instrument, line->host, line->port};
}

}  // namespace kio
