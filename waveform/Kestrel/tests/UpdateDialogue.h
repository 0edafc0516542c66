// What one clean update says to the instrument, for the end-to-end tests of
// every platform: the dialogue line by line and the checksum it commits.
#pragma once

#include <string>
#include <vector>

#include "UpdateFileBuilder.h"

namespace kestrel::testing {

// The dialogue of one clean normal update of `input`, records sent with
// `word` ("dlo", or "dlo?" when checked strictly), committed with `sum`.
inline std::vector<std::string> CleanUpdateDialogue(const kr470::UpdateFileInput& input,
                                                    const std::string& word,
                                                    const std::string& sum) {
    std::vector<std::string> lines = {"*IDN?", "*OPC?",     "SYSTem:ERRor?",
                                      "*CLS",  "dlo:csum?", "dlo:start 0012345",
                                      "*OPC?", "dlo:stat?"};
    for (const std::string& record : input.records)
        lines.push_back(word + " \"" + record + "\" ");
    lines.insert(lines.end(), {"*OPC?", "SYST:ERR?", "dlo:csum?", "dlo:stat?", "dlo:comp " + sum,
                               "*OPC?", "*IDN?"});
    return lines;
}

// The [Code Info] checksum of the update file built from `input`: the one a
// clean update commits.
inline std::string PassingChecksum(const kr470::UpdateFileInput& input) {
    std::string text = kr470::BuildUpdateFile(input);
    size_t at = text.find("[Code Info]\r\nChecksum=") + 22;
    return text.substr(at, text.find('\r', at) - at);
}

}  // namespace kestrel::testing
