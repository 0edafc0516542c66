#include "IniText.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "IniFile.h"
#include "IniRewrite.h"
#include "TextRules.h"

namespace kestrel {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// Where a value's comment starts, or its size. The store writes '#' bare
// ("/home/u/fw #2/a.ini") and always quotes a ';', so only a ';' after a blank
// and outside quotes starts one; a backslash escapes the next character,
// inside quotes or not.
size_t ValueCommentStart(std::string_view value) {
    bool quoted = false;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\')
            ++i;
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ';' && (i == 0 || IsBlank(value[i - 1])))
            return i;
    }
    return value.size();
}

// A line as the store reads it: headers, comment lines and blanks as every
// file of ours has them; a value with the store's own comment rule.
fileio::IniLine StoreLine(std::string_view raw) {
    fileio::IniLine parsed = fileio::ParseIniLine(raw);
    if (parsed.kind == fileio::IniLineKind::kValue) {
        const std::string_view value = raw.substr(raw.find('=') + 1);
        parsed.value = std::string(fileio::Trim(value.substr(0, ValueCommentStart(value))));
    }
    return parsed;
}

char Unescaped(char c) {
    switch (c) {
        case 'a':
            return '\a';
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        case 'v':
            return '\v';
        default:
            return c;  // \\ \" \' \? \; \, and anything else: the character
    }
}

// The digits of a \x (hex) or \0 (octal) escape from `at`; `at` moves past them.
unsigned DigitsValue(const std::string& raw, size_t& at, int base) {
    unsigned value = 0;
    for (; at < raw.size(); ++at) {
        const char c = raw[at];
        const int digit = c >= '0' && c <= '9'                 ? c - '0'
                          : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                               : -1;
        if (digit < 0 || digit >= base)
            break;
        value = (value * static_cast<unsigned>(base) + static_cast<unsigned>(digit)) & 0xFFFF;
    }
    return value;
}

bool NeedsQuotes(const std::string& value) {
    if (value.empty())
        return false;
    if (value.front() == ' ' || value.back() == ' ')
        return true;
    for (unsigned char c : value) {
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\\' || c == ';' || c == ',' || c == '=' ||
            c == '#')
            return true;
    }
    return false;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string QuotedIfNeeded(const std::string& value) {
    if (!NeedsQuotes(value))
        return value;
    std::string encoded = "\"";
    for (size_t i = 0; i < value.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (c == '"' || c == '\\') {
            encoded += '\\';
            encoded += static_cast<char>(c);
        } else if (c == '\n') {
            encoded += "\\n";
        } else if (c == '\r') {
            encoded += "\\r";
        } else if (c == '\t') {
            encoded += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%x", c);
            encoded += escape;
            // A hex digit next would join the escape: end the quote and open another.
            if (i + 1 < value.size() && IsHexDigit(value[i + 1]))
                encoded += "\"\"";
        } else {
            encoded += static_cast<char>(c);
        }
    }
    return encoded + "\"";
}

}  // namespace

bool IniTextWellFormed(const std::string& text) {
    return FirstIllFormedLine(text) == 0;
}

size_t FirstIllFormedLine(const std::string& text) {
    const std::vector<std::string_view> lines = fileio::IniLines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find('\0') != std::string_view::npos ||
            StoreLine(lines[i]).kind == fileio::IniLineKind::kMalformed)
            return i + 1;
    }
    return 0;
}

std::string EncodeIniValue(const std::string& value) {
    // A leading '@' marks a typed value in this format; a text starting with
    // one has it doubled.
    const std::string text = value.starts_with('@') ? "@" + value : value;
    return QuotedIfNeeded(text);
}

std::string DecodeIniValue(const std::string& raw) {
    std::string value;
    const std::string text(fileio::Trim(raw));
    for (size_t i = 0; i < text.size();) {
        const char c = text[i++];
        if (c == '"')
            continue;  // quotes only protect what they hold
        if (c != '\\' || i == text.size()) {
            value += c;
            continue;
        }
        const char escape = text[i++];
        if (escape == 'x') {
            value += static_cast<char>(DigitsValue(text, i, 16));
        } else if (escape >= '0' && escape <= '7') {
            --i;
            value += static_cast<char>(DigitsValue(text, i, 8));
        } else {
            value += Unescaped(escape);
        }
    }
    if (value.starts_with("@@"))
        value.erase(0, 1);
    return value;
}

std::map<std::string, std::string> IniSectionValues(const std::string& text,
                                                    const std::string& section) {
    std::map<std::string, std::string> values;
    const fileio::IniRewrite file(text, StoreLine);
    fileio::IniSectionSpan span;
    const bool found = file.FindSection(section, true, span);
    for (size_t i = span.header + 1; found && i < span.end; ++i) {
        const fileio::IniLine& line = file.Parsed(i);
        // The first line of a key in any case, the one WithIniValue rewrites.
        if (line.kind == fileio::IniLineKind::kValue)
            if (std::none_of(values.begin(), values.end(), [&](const auto& entry) {
                    return fileio::SameIgnoringCase(entry.first, line.name);
                }))
                values.emplace(line.name, DecodeIniValue(line.value));
    }
    return values;
}

std::string WithIniValue(const std::string& text, const std::string& section,
                         const std::string& key, const std::string& value) {
    fileio::IniRewrite file(text, StoreLine);
    const std::string entry = key + "=" + EncodeIniValue(value);
    fileio::IniSectionSpan span;
    if (!file.FindSection(section, true, span)) {
        if (file.LineCount() > 0)
            file.AddAtEnd("");
        file.AddAtEnd("[" + section + "]");
        file.AddAtEnd(entry);
        return file.Text();
    }
    size_t addAfter = span.header;
    for (size_t i = span.header + 1; i < span.end; ++i) {
        const fileio::IniLine& line = file.Parsed(i);
        if (line.kind == fileio::IniLineKind::kValue && fileio::SameIgnoringCase(line.name, key)) {
            file.Replace(i, line.name + "=" + EncodeIniValue(value));
            return file.Text();
        }
        if (line.kind != fileio::IniLineKind::kBlank)
            addAfter = i;  // after the section's last line that is not blank
    }
    file.AddAfter(addAfter, entry);
    return file.Text();
}

}  // namespace kestrel
