// The rules of an update file's [Code] section, without printing: what a
// record line is, which records are counted, the signed 8-bit character sum,
// the longest line the download sends, and one reading of the section that
// Osprey's check and the update-file builder's check share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "TextFile.h"

namespace osprey {

// The stored "Checksum" that switches the character-sum comparison off.
inline constexpr int32_t kMagicChecksum = -1;

// Code lines hold at most this many characters before their line end.
inline constexpr size_t kLongestCodeLine = 148;

// What one reading of the [Code] section found; nothing is printed yet.
struct CodeSectionScan {
    int32_t stored = 0;             // the "Checksum" compared, from [Firmware Info] onward
    int32_t records = 0;            // S1, S2 and S3 lines
    int32_t sum = 0;                // the signed 8-bit character sum
    bool ended = false;             // the END line was reached
    int nonRecordLine = 0;          // the [Code] line (from 1) that stopped the reading; 0: none
    bool nonRecordTooLong = false;  // ... the rest of a line longer than a piece
    int firstLongLine = 0;          // the first line longer than kLongestCodeLine; 0: none
};

// Reads the section as the check does: in pieces of at most 255 characters,
// up to END, the end of the file, or the first line that is no S-record ("S",
// a type digit and hex digits; END ends the section).
CodeSectionScan ScanCodeSection(TextFile& file);

// True when the check passes what the scan found.
bool CodeSectionPasses(const CodeSectionScan& scan, int32_t expectedRecords);

// The signed 8-bit character sum of one line, added to `sum` with
// two's-complement wrap-around.
int32_t AddCharacterSum(int32_t sum, std::string_view line);

// True for a record line as the instrument takes it: "S", the type digit and
// hex digits, nothing else.
bool IsRecordText(std::string_view line);

// True for lines that begin with "S1", "S2" or "S3".
bool IsDataRecord(std::string_view line);

// True for lines that begin with "S7", "S8" or "S9": the end record that
// closes an image (objcopy writes S9 after S1 data, S8 after S2, S7 after S3).
bool IsEndRecord(std::string_view line);

}  // namespace osprey
