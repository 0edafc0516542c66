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
#include "LineKey.h"

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

// The controller's own connection, through the bus its address names.
std::unique_ptr<Transport> OpenControllerLink(const BusRequest& request,
                                              const std::string& controller, std::string& why) {
    std::vector<std::string> parts = SplitAddress(Canonical(controller));
    std::vector<std::string> written = SplitAddress(controller);
    const Bus* bus = FindBus(parts[0]);
    if (bus == nullptr || bus->kind == "GPIB") {
        why = "its controller " + controller +
              " is neither a serial port (ASRL) nor a socket (TCPIP::host::port::SOCKET)";
        return nullptr;
    }
    BusFailure failure = BusFailure::kBadAddress;
    std::unique_ptr<Transport> link = bus->open(
        {request.config, controller, parts, written, request.connectTimeoutMs}, failure, why);
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
    std::string number = request.parts[0].substr(4);
    const std::string board = "GPIB" + (number.empty() ? "0" : number);
    const std::string controller = Trim(Lookup(request.config, board, "CONTROLLER"));
    if (controller.empty()) {
        failure = BusFailure::kNoRoute;
        return nullptr;
    }
    std::optional<GpibTarget> target = TargetOf(request.parts);
    if (!AllDigits(board.substr(4)) || !target) {
        failure = BusFailure::kBadAddress;
        return nullptr;
    }
    failure = BusFailure::kNotFound;
    std::shared_ptr<GpibController> shared = SharedController(request, controller, why);
    if (!shared)
        return nullptr;
    return MakeGpibTransport(std::move(shared), *target);
}

}  // namespace kio
