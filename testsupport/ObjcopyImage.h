// A firmware image as `objcopy -O srec` writes it from a binary: an S0
// header, data records and one end record, the record type chosen by the
// address range (S1/S9 below 64 KiB, S2/S8 below 16 MiB, S3/S7 above).
// Made in the test's own folder by the machine's binutils.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "Process.h"
#include "TempFile.h"

namespace testsupport {

inline std::vector<std::string> ObjcopyImage(const TempDir& dir, size_t bytes, uint32_t address) {
    std::string binary;
    for (size_t i = 0; i < bytes; ++i) {
        binary += static_cast<char>((i * 37 + 11) & 0xFF);
    }
    const std::string in = dir.Write("image.bin", binary);
    const std::string out = (dir.Path() / "image.srec").string();
    ProcessResult made = RunProcess({"/usr/bin/objcopy", "-I", "binary", "-O", "srec",
                                     "--change-addresses", std::to_string(address), in, out},
                                    "");
    std::vector<std::string> lines;
    if (made.status != 0) {
        return lines;
    }
    std::ifstream srec(out);
    for (std::string line; std::getline(srec, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace testsupport
