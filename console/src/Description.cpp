#include "Description.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "Console.h"
#include "IniReader.h"

namespace osprey {

int PrintDescriptionLines(TextFile& file) {
    int printed = 0;
    for (int n = 1; n > 0; ++n) {
        std::array<char, 32> key{};
        std::snprintf(key.data(), key.size(), "Desc %d", n);
        std::array<char, 100> value{};
        if (ReadIniValue(file, "Description", key.data(), value) <= 0) {
            break;
        }
        TeePrintf("%s\n", value.data());
        ++printed;
    }
    return printed;
}

void PrintDescription(const char* path) {
    TextFile file;
    if (!file.Open(path)) {
        TeePrintf("\nError:: Could not open INI file %s.\n", path);
        if (!file.Refusal().empty()) {
            TeePrintf("%s.\n", file.Refusal().c_str());
        }
        std::exit(1);
    }
    PrintDescriptionLines(file);
    std::exit(0);
}

}  // namespace osprey
