#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "InstrumentSession.h"
#include "Transport.h"

namespace kio {
namespace {

std::string Upper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

std::string Trim(std::string_view text) {
    size_t first = text.find_first_not_of(" \t\r");
    size_t last = text.find_last_not_of(" \t\r");
    return first == std::string_view::npos ? "" : std::string(text.substr(first, last - first + 1));
}

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

Config ReadConfig() {
    Config config;
    std::ifstream file(ConfigPath());
    std::string section;
    for (std::string raw; std::getline(file, raw);) {
        std::string line = Trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            section = Upper(Trim(line.substr(1, line.find(']') - 1)));
            continue;
        }
        size_t equals = line.find('=');
        if (equals != std::string::npos) {
            config[section].try_emplace(Upper(Trim(line.substr(0, equals))),
                                        Trim(line.substr(equals + 1)));
        }
    }
    return config;
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
    if (const char* named = std::getenv("KIO_CONFIG"); named != nullptr && *named != '\0')
        return named;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0') {
        return std::string(config) + "/instrument-io/config.ini";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config/instrument-io/config.ini";
}

std::vector<std::string> ConfiguredAddresses() {
    std::vector<std::string> addresses;
    Config config = ReadConfig();
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

std::unique_ptr<Session> Session::Open(std::string_view address, Result& result,
                                       uint32_t connectTimeoutMs) {
    Config config = ReadConfig();
    std::string target = Canonical(address);
    // An alias may route any address (GPIB ones need one) to a serial port or socket.
    if (auto aliases = config.find("ALIASES"); aliases != config.end()) {
        for (const auto& [name, routed] : aliases->second) {
            if (Canonical(name) == target) {
                target = Canonical(routed);
                break;
            }
        }
    }
    std::vector<std::string> parts = SplitAddress(target);
    std::string why;
    std::unique_ptr<Transport> transport;
    std::string kind;
    if (parts[0].starts_with("ASRL")) {
        std::string port = parts[0].substr(4);
        std::string device, settings;
        if (AllDigits(port)) {
            int number = std::atoi(port.c_str());
            device = Lookup(config, "ASRL" + port, "DEVICE");
            if (device.empty())
                device = "/dev/ttyS" + std::to_string(number - 1);
            settings = Lookup(config, "ASRL" + port, "SETTINGS");
        } else if (port.starts_with("/")) {
            // A device path: keep its case as written.
            std::string original = Trim(address);
            device = original.substr(4, original.find("::") == std::string::npos
                                            ? std::string::npos
                                            : original.find("::") - 4);
            settings = Lookup(config, Upper(device), "SETTINGS");
        } else {
            result = {Status::kBadAddress, "Invalid resource address: " + std::string(address)};
            return nullptr;
        }
        transport = OpenSerial(device, settings.empty() ? "9600,N,8,1" : settings, why);
        kind = "ASRL";
    } else if (parts[0].starts_with("TCPIP") && parts.size() == 4 && parts[3] == "SOCKET") {
        // The host keeps its case: names are matched by the resolver anyway.
        std::vector<std::string> original = SplitAddress(Trim(address));
        std::string host = target == Canonical(address) ? original[1] : parts[1];
        transport = OpenTcp(host, parts[2], connectTimeoutMs, why);
        kind = "TCPIP";
    } else if (parts[0].starts_with("GPIB")) {
        result = {Status::kConfig, "No route to " + std::string(address) + ": add a line \"" +
                                       std::string(address) +
                                       " = TCPIP0::host::port::SOCKET\" (or an ASRL "
                                       "address) to the [aliases] section of " +
                                       ConfigPath()};
        return nullptr;
    } else {
        result = {Status::kBadAddress, "Invalid resource address: " + std::string(address)};
        return nullptr;
    }
    if (!transport) {
        result = {Status::kNotFound, "Cannot open " + std::string(address) + ": " + why};
        return nullptr;
    }
    result = {};
    return std::unique_ptr<Session>(new Session(Trim(address), kind, std::move(transport)));
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
        if (size_t lf = pending_.find('\n'); lf != std::string::npos) {
            line = pending_.substr(0, lf);
            pending_.erase(0, lf + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return {};
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
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

Result Session::Query(std::string_view line, std::string& reply) {
    Result written = Write(line);
    return written.ok() ? ReadLine(reply) : written;
}

}  // namespace kio
