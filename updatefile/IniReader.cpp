#include "IniReader.h"

#include <algorithm>
#include <array>
#include <string>

namespace osprey {

std::optional<size_t> FindSectionHeader(TextFile& file, std::string_view section) {
    file.Rewind();
    const std::string header = "[" + std::string(section) + "]";
    std::array<char, kIniLineBuffer> line{};
    while (std::optional<size_t> length = file.ReadPiece(line)) {
        if (std::string_view(line.data(), *length).starts_with(header)) {
            return file.LineNumber();
        }
    }
    return std::nullopt;
}

std::optional<KeyLine> FindKeyLine(TextFile& file, std::string_view section, std::string_view key) {
    if (!FindSectionHeader(file, section) || key.empty()) {
        return std::nullopt;
    }
    std::array<char, kIniLineBuffer> line{};
    bool pastSection = false;
    for (size_t lineNumber = file.LineNumber();;) {
        std::optional<size_t> length = file.ReadPiece(line);
        if (!length) {
            return std::nullopt;
        }
        const bool startsLine = file.LineNumber() != lineNumber;
        lineNumber = file.LineNumber();
        std::string_view text(line.data(), *length);
        if (text.starts_with(key)) {
            return KeyLine{std::string(text), lineNumber, pastSection};
        }
        pastSection = pastSection || (startsLine && text.starts_with('['));
    }
}

int ReadIniValue(TextFile& file, std::string_view section, std::string_view key,
                 std::span<char> destination) {
    std::optional<KeyLine> found = FindKeyLine(file, section, key);
    if (!found || destination.empty()) {
        return 0;
    }
    // The key and the one separator character after it, whatever it is, are skipped.
    std::string_view value = found->Value(key);
    size_t count = std::min(value.size(), destination.size() - 1);
    std::copy_n(value.data(), count, destination.data());
    destination[count] = '\0';
    return static_cast<int>(count);
}

int PositionAtSection(TextFile& file, std::string_view section) {
    FindSectionHeader(file, section);
    return 0;
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
