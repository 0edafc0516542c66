// Osprey's check of the update file's [Code] section before anything is
// sent, as the console shows it: record count against "Number of Srecs" and
// character sum against the stored "Checksum" (-1 switches the sum
// comparison off). The rules themselves are the update-file library's.
#pragma once

#include <cstdint>

#include "CodeRules.h"
#include "TextFile.h"

namespace osprey {

// Prints the check's findings: "Verifying code section of Update file." and
// what follows it; a line that is no S-record is also named by its number on
// stderr. Returns 0 when the section passed, 1 when it failed.
int ReportCodeSection(const CodeSectionScan& scan, int32_t expectedRecords);

// ScanCodeSection, then ReportCodeSection.
int VerifyCodeSection(TextFile& file, int32_t expectedRecords);

}  // namespace osprey
