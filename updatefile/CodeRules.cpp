#include "CodeRules.h"

#include <algorithm>
#include <array>

#include "Decimal.h"
#include "IniReader.h"

namespace osprey {

bool IsDataRecord(std::string_view line) {
    return line.size() >= 2 && line[0] == 'S' &&
           (line[1] == '1' || line[1] == '2' || line[1] == '3');
}

bool IsEndRecord(std::string_view line) {
    return line.size() >= 2 && line[0] == 'S' && line[1] >= '7' && line[1] <= '9';
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

CodeSectionScan ScanCodeSection(TextFile& file) {
    CodeSectionScan scan;
    std::array<char, 256> storedText{};
    ReadIniValue(file, "Firmware Info", "Checksum", storedText);
    scan.stored = DecimalInteger(storedText.data());

    PositionAtSection(file, "Code");
    std::array<char, kIniLineBuffer> line{};
    bool lineEnded = true;
    for (int number = 0;;) {
        std::optional<size_t> length = file.ReadPiece(line);
        if (!length) {
            return scan;
        }
        const bool continued = !lineEnded;  // the rest of a line longer than a piece
        number += continued ? 0 : 1;
        lineEnded = file.PieceEndedLine();
        std::string_view text(line.data(), *length);
        if (text.starts_with("END")) {
            scan.ended = true;
            return scan;
        }
        if (!IsRecordText(text)) {
            scan.nonRecordLine = number;
            scan.nonRecordTooLong = continued;
            return scan;
        }
        if (*length > kLongestCodeLine && scan.firstLongLine == 0) {
            scan.firstLongLine = number;
        }
        if (IsDataRecord(text)) {
            ++scan.records;
        }
        scan.sum = AddCharacterSum(scan.sum, text);
    }
}

bool CodeSectionPasses(const CodeSectionScan& scan, int32_t expectedRecords) {
    return scan.nonRecordLine == 0 && scan.ended && scan.records == expectedRecords &&
           (scan.stored == kMagicChecksum || scan.sum == scan.stored);
}

}  // namespace osprey
