// Which GPIB instruments the finder asks: each board's "scan" key, a list of
// primary addresses and ranges ("1-30", "5, 9-12"). A board without the key
// is asked nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Config.h"

namespace kio {

constexpr int kHighestGpibAddress = 30;

// A primary or secondary GPIB address written in decimal, 0 to 30; -1 when
// `text` is none.
int GpibAddressNumber(const std::string& text);

// The addresses `text` names, in order, each once; false with `problem`
// naming the first item that is neither an address nor a range of 0 to 30.
bool ParseScanList(std::string_view text, std::vector<int>& addresses, std::string& problem);

// "GPIB<n>::<address>::INSTR" for each address scanned on each board that has
// a controller. A scan list that cannot be read is said on stderr, and in
// `problems` when given, and scans nothing.
void AppendScannedGpibAddresses(const Config& config, std::vector<std::string>& addresses,
                                std::vector<std::string>* problems = nullptr);

}  // namespace kio
