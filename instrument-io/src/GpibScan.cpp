#include "GpibScan.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include <kio/Session.h>

#include "Address.h"

namespace kio {
namespace {

bool ReadAddress(const std::string& text, int& value) {
    value = GpibAddressNumber(text);
    return value >= 0;
}

// One item: "N" or "N-M" with N <= M.
bool ReadItem(const std::string& item, int& first, int& last) {
    size_t dash = item.find('-');
    if (dash == std::string::npos)
        return ReadAddress(item, first) && ReadAddress(item, last);
    return ReadAddress(Trim(item.substr(0, dash)), first) &&
           ReadAddress(Trim(item.substr(dash + 1)), last) && first <= last;
}

// An alias "GPIB0::10" and the scanned "GPIB0::10::INSTR" name one
// instrument: listed twice, the finder would ask it twice at once.
void AddUnlessListed(const std::string& address, std::vector<std::string>& addresses) {
    const std::string canonical = Canonical(address);
    if (std::none_of(addresses.begin(), addresses.end(),
                     [&](const std::string& listed) { return Canonical(listed) == canonical; }))
        addresses.push_back(address);
}

}  // namespace

int GpibAddressNumber(const std::string& text) {
    int value = -1;
    if (!AllDigits(text) || text.size() > 2 ||
        std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc())
        return -1;
    return value <= kHighestGpibAddress ? value : -1;
}

bool ParseScanList(std::string_view text, std::vector<int>& addresses, std::string& problem) {
    addresses.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = std::min(text.find(',', start), text.size());
        std::string item = Trim(text.substr(start, comma - start));
        start = comma + 1;
        if (item.empty() && comma == text.size() && addresses.empty())
            break;  // an empty list
        int first = 0, last = 0;
        if (!ReadItem(item, first, last)) {
            problem = "\"" + item + "\" is neither an address nor a range of addresses from 0 to " +
                      std::to_string(kHighestGpibAddress);
            addresses.clear();
            return false;
        }
        for (int a = first; a <= last; ++a) {
            if (std::find(addresses.begin(), addresses.end(), a) == addresses.end())
                addresses.push_back(a);
        }
    }
    return true;
}

void AppendScannedGpibAddresses(const Config& config, std::vector<std::string>& addresses,
                                std::vector<std::string>* problems) {
    for (const auto& [section, keys] : config) {
        if (!section.starts_with("GPIB") || !AllDigits(section.substr(4)) ||
            Lookup(config, section, "CONTROLLER").empty())
            continue;
        std::vector<int> scanned;
        std::string problem;
        if (!ParseScanList(Lookup(config, section, "SCAN"), scanned, problem)) {
            const std::string said =
                ConfigPath() + ": [" + section + "] scan: " + problem + "; nothing scanned";
            std::fprintf(stderr, "%s\n", said.c_str());
            if (problems != nullptr)
                problems->push_back(said);
        }
        for (int address : scanned)
            AddUnlessListed(section + "::" + std::to_string(address) + "::INSTR", addresses);
    }
}

}  // namespace kio
