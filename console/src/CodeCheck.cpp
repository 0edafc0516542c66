#include "CodeCheck.h"

#include <algorithm>
#include <array>

#include "Console.h"
#include "Decimal.h"
#include "IniReader.h"

namespace osprey {

bool IsDataRecord(std::string_view line) {
    return line.size() >= 2 && line[0] == 'S' &&
           (line[1] == '1' || line[1] == '2' || line[1] == '3');
}

bool IsRecordText(std::string_view line) {
    auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    };
    return line.size() >= 2 && line[0] == 'S' && line[1] >= '0' && line[1] <= '9' &&
           std::all_of(line.begin() + 2, line.end(), isHex);
}

int32_t AddCharacterSum(int32_t sum, std::string_view line) {
    // Unsigned arithmetic wraps by definition; the result converts back modulo 2^32.
    uint32_t total = static_cast<uint32_t>(sum);
    for (char c : line) {
        total += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
    }
    return static_cast<int32_t>(total);
}

int VerifyCodeSection(TextFile& file, int32_t expectedRecords) {
    TeePrintf("Verifying code section of Update file.\n");
    std::array<char, 256> storedText{};
    ReadIniValue(file, "Firmware Info", "Checksum", storedText);
    const int32_t stored = DecimalInteger(storedText.data());

    PositionAtSection(file, "Code");
    bool failed = false;
    int32_t records = 0;
    int32_t sum = 0;
    std::array<char, kIniLineBuffer> line{};
    for (;;) {
        std::optional<size_t> length = file.ReadPiece(line);
        if (!length) {
            TeePrintf("Problem reading code section of INI file!\n");
            failed = true;
            break;
        }
        std::string_view text(line.data(), *length);
        if (!text.starts_with('S')) {
            if (text.starts_with("END")) {
                break;
            }
            TeePrintf("Non-SRecord in code section!\n");
            return 1;
        }
        if (IsDataRecord(text)) {
            ++records;
        }
        sum = AddCharacterSum(sum, text);
    }
    if (records != expectedRecords) {
        TeePrintf("Not enough SRecords in code section.\n");
        failed = true;
    }
    if (stored == kMagicChecksum) {
        TeePrintf("Magic number check sum in INI file.  No check done!\n");
        TeePrintf("Calculated CheckSum=%d\n", sum);
    } else if (sum != stored) {
        TeePrintf("Code Section check sum does not match!");
        return 1;
    }
    if (!failed) {
        TeePrintf("Record count and CheckSum match!\nCode section OK.\n");
    }
    return failed ? 1 : 0;
}

}  // namespace osprey
