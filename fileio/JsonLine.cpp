#include "JsonLine.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace fileio {
namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0.
size_t Utf8SequenceLength(std::string_view text) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(0);
    size_t length = lead < 0x80                    ? 1
                    : lead >= 0xC2 && lead <= 0xDF ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || length > text.size()) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    // Overlong three- and four-byte forms, surrogates and values past U+10FFFF.
    if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F) ||
        (lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) > 0x8F)) {
        return 0;
    }
    return length;
}

void AppendEscaped(std::string& out, char c) {
    switch (c) {
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        default:
            break;
    }
    if (static_cast<unsigned char>(c) < 0x20) {
        std::array<char, 8> code{};
        std::snprintf(code.data(), code.size(), "\\u%04x", static_cast<unsigned char>(c));
        out += code.data();
    } else {
        out += c;
    }
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        size_t length = Utf8SequenceLength(text.substr(i));
        if (length == 0) {
            out += "\\ufffd";
            ++i;
        } else if (length == 1) {
            AppendEscaped(out, text[i++]);
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out + "\"";
}

void JsonLine::Key(std::string_view key) {
    if (text_.size() > 1) {
        text_ += ',';
    }
    text_ += JsonString(key);
    text_ += ':';
}

void JsonLine::Add(std::string_view key, std::string_view text) {
    Key(key);
    text_ += JsonString(text);
}

void JsonLine::AddOrNull(std::string_view key, const std::optional<std::string>& text) {
    Key(key);
    text_ += text ? JsonString(*text) : "null";
}

void JsonLine::Add(std::string_view key, long long number) {
    Key(key);
    text_ += std::to_string(number);
}

void JsonLine::AddFixed(std::string_view key, double number, int decimals) {
    Key(key);
    std::array<char, 64> text{};
    // JSON has no NaN or infinity.
    std::snprintf(text.data(), text.size(), "%.*f", decimals, std::isfinite(number) ? number : 0.0);
    text_ += text.data();
}

void JsonLine::AddBool(std::string_view key, bool value) {
    Key(key);
    text_ += value ? "true" : "false";
}

}  // namespace fileio
