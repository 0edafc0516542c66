#include "LineText.h"

#include <charconv>
#include <vector>

namespace serialio {
namespace {

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> Parts(std::string_view text) {
    std::vector<std::string_view> parts;
    for (size_t comma = text.find(','); comma != std::string_view::npos; comma = text.find(',')) {
        parts.push_back(TrimBlanks(text.substr(0, comma)));
        text.remove_prefix(comma + 1);
    }
    parts.push_back(TrimBlanks(text));
    return parts;
}

bool ReadUnsigned(std::string_view text, uint32_t& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

std::optional<char> ParityOf(std::string_view part) {
    if (part.size() != 1)
        return std::nullopt;
    const char letter =
        part[0] >= 'a' && part[0] <= 'z' ? static_cast<char>(part[0] - 'a' + 'A') : part[0];
    if (std::string_view("NOEMS").find(letter) == std::string_view::npos)
        return std::nullopt;
    return letter;
}

std::optional<uint8_t> DataBitsOf(std::string_view part) {
    uint32_t bits = 0;
    if (!ReadUnsigned(part, bits) || bits < 5 || bits > 8)
        return std::nullopt;
    return static_cast<uint8_t>(bits);
}

std::optional<LineText::Stop> StopBitsOf(std::string_view part) {
    if (part == "1")
        return LineText::Stop::kOne;
    if (part == "2")
        return LineText::Stop::kTwo;
    if (part == "1.5")
        return LineText::Stop::kOneAndHalf;
    return std::nullopt;
}

}  // namespace

std::optional<LineText> ReadLineText(std::string_view text) {
    const std::vector<std::string_view> parts = Parts(text);
    LineText read;
    if (parts.size() > 4 || !ReadUnsigned(parts[0], read.baud) || read.baud == 0)
        return std::nullopt;
    if (parts.size() > 1 && !(read.parity = ParityOf(parts[1])))
        return std::nullopt;
    if (parts.size() > 2 && !(read.dataBits = DataBitsOf(parts[2])))
        return std::nullopt;
    if (parts.size() > 3 && !(read.stopBits = StopBitsOf(parts[3])))
        return std::nullopt;
    return read;
}

}  // namespace serialio
