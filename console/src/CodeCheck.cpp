#include "CodeCheck.h"

#include <cstdio>

#include "Console.h"

namespace osprey {

int ReportCodeSection(const CodeSectionScan& scan, int32_t expectedRecords) {
    TeePrintf("Verifying code section of Update file.\n");
    if (scan.nonRecordLine != 0) {
        TeePrintf("Non-SRecord in code section!\n");
        std::fprintf(stderr, "Osprey: line %d of [Code] %s.\n", scan.nonRecordLine,
                     scan.nonRecordTooLong
                         ? "is longer than 255 characters"
                         : "is not an S-record (\"S\", a type digit and hex digits)");
        return 1;
    }
    bool failed = false;
    if (!scan.ended) {
        TeePrintf("Problem reading code section of INI file!\n");
        failed = true;
    }
    if (scan.records != expectedRecords) {
        TeePrintf("Not enough SRecords in code section.\n");
        failed = true;
    }
    if (scan.stored == kMagicChecksum) {
        TeePrintf("Magic number check sum in INI file.  No check done!\n");
        TeePrintf("Calculated CheckSum=%d\n", scan.sum);
    } else if (scan.sum != scan.stored) {
        TeePrintf("Code Section check sum does not match!");
        return 1;
    }
    if (!failed) {
        TeePrintf("Record count and CheckSum match!\nCode section OK.\n");
    }
    return failed ? 1 : 0;
}

int VerifyCodeSection(TextFile& file, int32_t expectedRecords) {
    return ReportCodeSection(ScanCodeSection(file), expectedRecords);
}

}  // namespace osprey
