#include "IniFile.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "RegularFile.h"
#include "TextRules.h"

namespace fileio {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

bool StartsComment(std::string_view text) {
    return !text.empty() && (text.front() == ';' || text.front() == '#');
}

// The offset where `text`'s comment starts, or its size.
size_t CommentStart(std::string_view text) {
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '\\') {
            ++i;  // the escaped character, whatever it is
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (c == ';' || c == '#') && (i == 0 || IsBlank(text[i - 1]))) {
            return i;
        }
    }
    return text.size();
}

IniLine Header(std::string_view line) {
    std::string_view header = WithoutComment(line);
    if (header.size() < 2 || header.back() != ']')
        return {IniLineKind::kMalformed, "", ""};
    return {IniLineKind::kSection, std::string(Trim(header.substr(1, header.size() - 2))), ""};
}

}  // namespace

std::string_view WithoutComment(std::string_view value) {
    return Trim(value.substr(0, CommentStart(value)));
}

IniLine ParseIniLine(std::string_view raw) {
    const std::string_view line = Trim(raw);
    if (line.empty())
        return {};
    if (StartsComment(line))
        return {IniLineKind::kComment, "", ""};
    if (line.front() == '[')
        return Header(line);
    const size_t equals = line.find('=');
    const std::string_view key =
        equals == std::string_view::npos ? std::string_view() : Trim(line.substr(0, equals));
    if (key.empty())
        return {IniLineKind::kMalformed, "", ""};
    return {IniLineKind::kValue, std::string(key),
            std::string(WithoutComment(line.substr(equals + 1)))};
}

std::vector<std::string_view> IniLines(std::string_view text) {
    std::vector<std::string_view> lines;
    if (text.starts_with(kByteOrderMark))
        text.remove_prefix(kByteOrderMark.size());
    while (!text.empty()) {
        const size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

IniContent ReadIniText(std::string_view text) {
    IniContent content;
    std::string section;
    // After a header that is not closed, values belong to no section: they
    // were meant for the broken one, not for the one before it.
    bool inBrokenSection = false;
    const std::vector<std::string_view> lines = IniLines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        IniLine line = ParseIniLine(lines[i]);
        if (line.kind == IniLineKind::kSection) {
            section = std::move(line.name);
            inBrokenSection = false;
        } else if (line.kind == IniLineKind::kValue && !inBrokenSection) {
            content.entries.push_back(
                {i + 1, section, std::move(line.name), std::move(line.value)});
        } else if (line.kind == IniLineKind::kMalformed) {
            content.malformedLines.push_back(i + 1);
            inBrokenSection = inBrokenSection || Trim(lines[i]).starts_with('[');
        }
    }
    return content;
}

bool ReadOwnFile(const std::string& path, uint64_t maxBytes, const char* namedBy, const char* kind,
                 std::string& text, std::string& problem) {
    switch (ReadRegularFile(path, maxBytes, text, problem)) {
        case ReadStatus::kRead:
            return true;
        case ReadStatus::kMissing:
            if (const char* named = namedBy != nullptr ? std::getenv(namedBy) : nullptr;
                named != nullptr && path == named) {
                WarnAboutFile(
                    path, 0,
                    std::string("warning: no such ") + kind + " (named by " + namedBy + ")");
            }
            return true;
        case ReadStatus::kUnreadable:
        case ReadStatus::kRefused:
            break;
    }
    return false;
}

void WarnAboutFile(const std::string& path, size_t line, const std::string& what) {
    static std::mutex mutex;
    static std::set<std::string> said;
    const std::string where = line == 0 ? path : path + ":" + std::to_string(line);
    const std::string text = where + ": " + what + "\n";
    std::lock_guard<std::mutex> lock(mutex);
    if (said.insert(text).second)
        std::fputs(text.c_str(), stderr);
}

void WarnAboutMalformedLines(const std::string& path, const IniContent& content) {
    for (size_t line : content.malformedLines) {
        WarnAboutFile(path, line,
                      "warning: neither a [section] header, a key = value line nor a comment; "
                      "ignored");
    }
}

}  // namespace fileio
