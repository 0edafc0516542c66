// The check of the update file's [Code] section before anything is sent:
// record count against "Number of Srecs" and character sum against the
// stored "Checksum" (-1 switches the sum comparison off).
#pragma once

#include <cstdint>
#include <string_view>

#include "TextFile.h"

namespace osprey {

inline constexpr int32_t kMagicChecksum = -1;

// Returns 0 when the section passed, 1 when it failed. Prints its findings.
int VerifyCodeSection(TextFile& file, int32_t expectedRecords);

// The signed 8-bit character sum of one line, added to `sum` with
// two's-complement wrap-around.
int32_t AddCharacterSum(int32_t sum, std::string_view line);

// True for a record line as the instrument takes it: "S", the type digit and
// hex digits, nothing else.
bool IsRecordText(std::string_view line);

// True for lines that begin with "S1", "S2" or "S3".
bool IsDataRecord(std::string_view line);

}  // namespace osprey
