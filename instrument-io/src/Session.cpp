#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

#include "ConfigPath.h"
#include "IniFile.h"
#include "InstrumentSession.h"
#include "TextRules.h"
#include "Transport.h"

namespace kio {
namespace {

using fileio::Upper;

using fileio::Trim;

std::vector<std::string> SplitAddress(std::string_view address) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = address.find("::", start);
        parts.emplace_back(address.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos)
            return parts;
        start = at + 2;
    }
}

// Sections of the configuration, keys and section names in upper case.
using Config = std::map<std::string, std::map<std::string, std::string>>;

constexpr const char* kConfigVariable = "KIO_CONFIG";

// The keys a port's section may hold; [aliases] holds addresses as keys.
bool IsKnownKey(const std::string& section, const std::string& key) {
    return section == "ALIASES" || key == "DEVICE" || key == "SETTINGS" || key == "HANDSHAKE";
}

// Sections and keys of `text` in upper case, the first of a repeated key
// counting; what is not understood is said on stderr.
void ParseConfig(const std::string& path, const std::string& text, Config& config) {
    const fileio::IniContent content = fileio::ReadIniText(text);
    fileio::WarnAboutMalformedLines(path, content);
    for (const fileio::IniEntry& entry : content.entries) {
        std::string section = Upper(entry.section);
        std::string key = Upper(entry.key);
        if (!IsKnownKey(section, key)) {
            fileio::WarnAboutFile(path, entry.line,
                                  "warning: unknown key \"" + entry.key + "\"; ignored");
        }
        config[std::move(section)].try_emplace(std::move(key), entry.value);
    }
}

// Reads the configuration in force; a missing file is an empty one (said on
// stderr when KIO_CONFIG names it). False, with `problem`, when the file is
// there but is no regular file of at most kLargestConfigFile bytes or cannot
// be read.
bool ReadConfig(Config& config, std::string& problem) {
    config.clear();
    std::string text;
    const std::string path = ConfigPath();
    if (fileio::ReadOwnFile(path, kLargestConfigFile, kConfigVariable, "configuration file", text,
                            problem)) {
        ParseConfig(path, text, config);
        return true;
    }
    problem = "Cannot read the instrument-I/O configuration: " + problem;
    return false;
}

std::string Lookup(const Config& config, const std::string& section, const std::string& key) {
    auto s = config.find(section);
    if (s == config.end())
        return "";
    auto k = s->second.find(key);
    return k == s->second.end() ? "" : k->second;
}

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// "GPIB0::10" and "GPIB0::10::INSTR" name the same instrument.
std::string Canonical(std::string_view address) {
    std::string upper = Upper(Trim(address));
    if (upper.ends_with("::INSTR"))
        upper.resize(upper.size() - 7);
    return upper;
}

}  // namespace

std::string ConfigPath() {
    return fileio::ConfigFilePath(kConfigVariable, "instrument-io/config.ini");
}

std::vector<std::string> ConfiguredAddresses() {
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
    return addresses;
}

Session::Session(std::string address, std::string kind, std::unique_ptr<Transport> transport)
    : address_(std::move(address)), kind_(std::move(kind)), transport_(std::move(transport)) {}

Session::~Session() = default;

namespace {

// Two hops cover a board alias in front of an instrument alias; eight leave
// room for any real configuration while a mistake still ends quickly.
constexpr size_t kMaxAliasHops = 8;

std::string Joined(const std::vector<std::string>& chain) {
    std::string text;
    for (const std::string& step : chain)
        text += (text.empty() ? "" : " -> ") + step;
    return text;
}

// Follows the [aliases] routes from `address` to the address they end at,
// written as in the configuration (a device path keeps its case). Nothing,
// with `result` saying why, when the routes go round or run too long.
std::optional<std::string> FollowAliases(const Config& config, std::string_view address,
                                         Result& result) {
    std::vector<std::string> chain = {std::string(Trim(address))};
    std::vector<std::string> seen = {Canonical(address)};
    auto aliases = config.find("ALIASES");
    while (aliases != config.end()) {
        auto next =
            std::find_if(aliases->second.begin(), aliases->second.end(),
                         [&](const auto& alias) { return Canonical(alias.first) == seen.back(); });
        if (next == aliases->second.end())
            break;
        chain.push_back(next->second);
        const bool loop =
            std::find(seen.begin(), seen.end(), Canonical(next->second)) != seen.end();
        if (loop || chain.size() > kMaxAliasHops + 1) {
            result = {
                Status::kConfig,
                "Cannot open " + chain.front() + ": " +
                    (loop ? "the aliases go round in a loop ("
                          : "more than " + std::to_string(kMaxAliasHops) + " aliases in a row (") +
                    Joined(chain) + ") in the [aliases] section of " + ConfigPath()};
            return std::nullopt;
        }
        seen.push_back(Canonical(next->second));
    }
    return chain.back();
}

// A serial port by number (device and settings from its [ASRL<n>] section) or
// by device path. `routed` is trimmed; `why` says what failed.
std::unique_ptr<Transport> OpenSerialAddress(const Config& config, const std::string& routed,
                                             std::string& why, bool& badAddress) {
    std::string port = SplitAddress(routed)[0].substr(4);
    std::string device, section;
    if (AllDigits(port)) {
        section = "ASRL" + port;
        device = Lookup(config, section, "DEVICE");
        if (device.empty())
            device = "/dev/ttyS" + std::to_string(std::atoi(port.c_str()) - 1);
    } else if (port.starts_with("/")) {
        device = port;  // a device path, its case as written
        section = Upper(device);
    } else {
        badAddress = true;
        return nullptr;
    }
    std::string settings = Lookup(config, section, "SETTINGS");
    return OpenSerial(device, settings.empty() ? "9600,N,8,1" : settings,
                      Lookup(config, section, "HANDSHAKE"), why);
}

std::string NoRouteMessage(std::string_view address, const std::string& routed) {
    std::string reached = Canonical(routed) == Canonical(address)
                              ? ""
                              : " (reached from " + std::string(address) + " through an alias)";
    return "No route to " + routed + reached + ": add a line \"" + routed +
           " = TCPIP0::host::port::SOCKET\" (or an ASRL address) to the [aliases] section of " +
           ConfigPath();
}

}  // namespace

std::unique_ptr<Session> Session::Open(std::string_view address, Result& result,
                                       uint32_t connectTimeoutMs) {
    Config config;
    if (std::string problem; !ReadConfig(config, problem)) {
        result = {Status::kConfig, problem};
        return nullptr;
    }
    // An alias may route any address (GPIB ones need one) to a serial port or
    // socket, also through another alias.
    std::optional<std::string> routed = FollowAliases(config, address, result);
    if (!routed)
        return nullptr;
    std::vector<std::string> parts = SplitAddress(Canonical(*routed));
    std::vector<std::string> written = SplitAddress(*routed);
    std::string why;
    std::unique_ptr<Transport> transport;
    std::string kind;
    bool badAddress = false;
    if (parts[0].starts_with("ASRL")) {
        transport = OpenSerialAddress(config, *routed, why, badAddress);
        kind = "ASRL";
    } else if (parts[0].starts_with("TCPIP") && parts.size() == 4 && parts[3] == "SOCKET") {
        // The host keeps its case: names are matched by the resolver anyway.
        transport = OpenTcp(written[1], parts[2], connectTimeoutMs, why);
        kind = "TCPIP";
    } else if (parts[0].starts_with("GPIB")) {
        result = {Status::kConfig, NoRouteMessage(address, *routed)};
        return nullptr;
    } else {
        badAddress = true;
    }
    if (badAddress) {
        result = {Status::kBadAddress, "Invalid resource address: " + *routed};
        return nullptr;
    }
    if (!transport) {
        std::string via = Canonical(*routed) == Canonical(address) ? "" : " (" + *routed + ")";
        result = {Status::kNotFound, "Cannot open " + std::string(address) + via + ": " + why};
        return nullptr;
    }
    result = {};
    return std::unique_ptr<Session>(
        new Session(std::string(Trim(address)), kind, std::move(transport)));
}

Result Session::Write(std::string_view line) {
    std::string bytes(line);
    bytes.push_back('\n');
    if (!transport_->WriteAll(bytes, timeoutMs_)) {
        return {Status::kIoError, "I/O error writing to " + address_};
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
            return {Status::kIoError, "Connection to " + address_ + " was lost"};
        }
        Append(std::string_view(buffer, static_cast<size_t>(n)));
    }
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

Result Session::Query(std::string_view line, std::string& reply) {
    Result written = Write(line);
    return written.ok() ? ReadLine(reply) : written;
}

}  // namespace kio
