// The update-file reader and the code-section check over any bytes.
#include <array>

#include "CodeCheck.h"
#include "Decimal.h"
#include "Description.h"
#include "FuzzSupport.h"
#include "IniReader.h"
#include "TextFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    osprey::fuzz::QuietConsole console;
    osprey::fuzz::MemoryFile input(data, size);
    osprey::TextFile file;
    if (!input.ok() || !file.Open(input.Path()))
        return 0;
    std::array<char, 256> value{};
    std::array<char, 8> small{};
    osprey::ReadIniValue(file, "Firmware Info", "IDN", value);
    osprey::ReadIniValue(file, "Code Info", "Checksum", small);  // a value cut to a small buffer
    osprey::ReadIniValue(file, "Code Info", "Number of Srecs", value);
    osprey::PrintDescriptionLines(file);
    osprey::VerifyCodeSection(file, osprey::DecimalInteger(value.data()));
    return 0;
}
