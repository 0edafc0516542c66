#include <time.h>

#include <optional>
#include <vector>

#include <kio/Session.h>

#include "Address.h"
#include "AliasRoute.h"
#include "BusTable.h"
#include "Config.h"
#include "GpibScan.h"
#include "Transport.h"
#include "Vxi11.h"

namespace kio {

std::vector<std::string> ConfiguredAddresses(std::vector<std::string>* problems) {
    std::vector<std::string> addresses;
    Config config;
    std::string problem;
    ReadConfig(config, problem);  // an unusable configuration names no address
    if (auto aliases = config.find("ALIASES"); aliases != config.end()) {
        for (const auto& entry : aliases->second)
            addresses.push_back(entry.first);
    }
    for (const auto& entry : config) {
        if (entry.first.starts_with("ASRL") && AllDigits(entry.first.substr(4)))
            addresses.push_back(entry.first + "::INSTR");
    }
    AppendScannedGpibAddresses(config, addresses, problems);
    for (std::string& lan : Vxi11HostAddresses(config))
        addresses.push_back(std::move(lan));
    return addresses;
}

Session::Session(std::string address, std::string kind, std::unique_ptr<Transport> transport)
    : address_(std::move(address)), kind_(std::move(kind)), transport_(std::move(transport)) {}

Session::~Session() = default;

namespace {

Result FailedOpen(std::string_view address, const std::string& routed, BusFailure failure,
                  const std::string& why) {
    switch (failure) {
        case BusFailure::kBadAddress:
            break;
        case BusFailure::kNoRoute:
            return {Status::kConfig, NoRouteMessage(address, routed)};
        case BusFailure::kNotFound: {
            std::string via = Canonical(routed) == Canonical(address) ? "" : " (" + routed + ")";
            return {Status::kNotFound, "Cannot open " + std::string(address) + via + ": " + why};
        }
    }
    std::string detail = why.empty() ? "" : " (" + why + ")";
    return {Status::kBadAddress, "Invalid resource address: " + routed + detail};
}

}  // namespace

std::unique_ptr<Session> Session::Open(std::string_view address, Result& result,
                                       uint32_t connectTimeoutMs) {
    Config config;
    if (std::string problem; !ReadConfig(config, problem)) {
        result = {Status::kConfig, problem};
        return nullptr;
    }
    std::optional<std::string> routed = FollowAliases(config, address, result);
    if (!routed)
        return nullptr;
    const BusAddress bus = SplitForBus(*routed);
    BusFailure failure = BusFailure::kBadAddress;
    std::string why;
    std::unique_ptr<Transport> transport;
    if (bus.bus != nullptr) {
        transport = bus.bus->open({config, *routed, bus.parts, bus.written, connectTimeoutMs},
                                  failure, why);
    }
    if (!transport) {
        result = FailedOpen(address, *routed, failure, why);
        return nullptr;
    }
    result = {};
    return std::unique_ptr<Session>(
        new Session(Trim(address), std::string(bus.bus->kind), std::move(transport)));
}

Result Session::Write(std::string_view line) {
    std::string bytes(line);
    bytes.push_back('\n');
    if (!transport_->WriteAll(bytes, timeoutMs_)) {
        return {Status::kIoError, "I/O error writing to " + address_ + Detail()};
    }
    return {};
}

Result Session::ReadLine(std::string& line) {
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    auto elapsedMs = [&start] {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<uint64_t>((now.tv_sec - start.tv_sec) * 1000 +
                                     (now.tv_nsec - start.tv_nsec) / 1000000);
    };
    char buffer[4096];
    for (;;) {
        if (TakeLine(line)) {
            return {};
        }
        if (pending_.size() > kLongestReply) {
            pending_.clear();
            scanned_ = 0;
            discarding_ = true;
            return {Status::kIoError, "Reply from " + address_ + " is longer than " +
                                          std::to_string(kLongestReply) +
                                          " bytes; the rest of that line is discarded"};
        }
        uint64_t elapsed = elapsedMs();
        if (elapsed >= timeoutMs_) {
            return {Status::kTimeout,
                    "Timeout expired before operation completed (" + address_ + ")"};
        }
        long n = transport_->ReadSome(buffer, static_cast<uint32_t>(timeoutMs_ - elapsed));
        if (n < 0) {
            std::string why = transport_->Problem();
            if (why.empty())
                return {Status::kIoError, "Connection to " + address_ + " was lost"};
            return {Status::kIoError, "I/O error reading from " + address_ + ": " + why};
        }
        Append(std::string_view(buffer, static_cast<size_t>(n)));
    }
}

std::string Session::Detail() const {
    std::string problem = transport_->Problem();
    return problem.empty() ? "" : ": " + problem;
}

bool Session::TakeLine(std::string& line) {
    // Only the bytes not searched before: a slow reply is not searched over and over.
    size_t lf = pending_.find('\n', scanned_);
    if (lf == std::string::npos) {
        scanned_ = pending_.size();
        return false;
    }
    line = pending_.substr(0, lf);
    pending_.erase(0, lf + 1);
    scanned_ = 0;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

void Session::Append(std::string_view bytes) {
    if (discarding_) {
        size_t lf = bytes.find('\n');
        if (lf == std::string_view::npos)
            return;  // still the over-long line
        bytes.remove_prefix(lf + 1);
        discarding_ = false;
    }
    pending_.append(bytes);
}

void Session::Interrupt() {
    transport_->Interrupt();
}

Result Session::Query(std::string_view line, std::string& reply) {
    Result written = Write(line);
    return written.ok() ? ReadLine(reply) : written;
}

}  // namespace kio
