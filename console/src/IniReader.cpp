#include "IniReader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Console.h"

namespace osprey {
namespace {

// Reads up to and including the first line that begins with `header`.
bool FindHeader(TextFile& file, std::string_view header, std::span<char> line) {
    while (std::optional<size_t> length = file.ReadPiece(line)) {
        if (std::string_view(line.data(), *length).starts_with(header)) {
            return true;
        }
    }
    return false;
}

}  // namespace

int ReadIniValue(TextFile& file, std::string_view section, std::string_view key,
                 std::span<char> destination) {
    file.Rewind();
    std::string header = "[" + std::string(section) + "]";
    std::array<char, kIniLineBuffer> line{};
    bool found = FindHeader(file, header, line);
    if (key.empty() || !found || file.AtEnd()) {
        return 0;
    }
    while (std::optional<size_t> length = file.ReadPiece(line)) {
        std::string_view text(line.data(), *length);
        if (!text.starts_with(key)) {
            continue;
        }
        if (destination.empty()) {
            return 0;
        }
        // Skip the key and the one separator character after it, whatever it is.
        std::string_view value = text.substr(std::min(text.size(), key.size() + 1));
        size_t count = std::min(value.size(), destination.size() - 1);
        std::copy_n(value.data(), count, destination.data());
        destination[count] = '\0';
        return static_cast<int>(count);
    }
    return 0;
}

int PositionAtSection(TextFile& file, std::string_view section) {
    return ReadIniValue(file, section, {}, {});
}

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

int SplitFields(char* text, std::span<char*> slots, const char* delimiter) {
    if (slots.empty() || text == nullptr) {
        return 0;
    }
    const char separator = delimiter != nullptr ? delimiter[0] : '\0';
    size_t filled = 0;
    slots[filled++] = text;
    if (separator == '\0') {
        return 1;
    }
    for (char* p = text; *p != '\0' && filled < slots.size(); ++p) {
        if (*p == separator) {
            *p = '\0';
            slots[filled++] = p + 1;
        }
    }
    return static_cast<int>(filled);
}

}  // namespace osprey
