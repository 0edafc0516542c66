#include "IniRewrite.h"

#include "TextRules.h"

namespace fileio {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

IniRewrite::IniRewrite(std::string_view text, const Parser& parse) {
    const std::vector<std::string_view> lines = IniLines(text);
    byteOrderMark_ = text.substr(0, text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0);
    lastLineEnded_ = text.empty() || text.ends_with('\n');
    for (std::string_view raw : lines)
        lines_.push_back({raw, parse ? parse(raw) : ParseIniLine(raw), "", false, false, {}});
}

size_t IniRewrite::SectionEnd(size_t header) const {
    size_t end = header + 1;
    while (end < lines_.size() && lines_[end].parsed.kind != IniLineKind::kSection)
        ++end;
    return end;
}

bool IniRewrite::FindSection(std::string_view name, bool ignoreCase, IniSectionSpan& span) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        const IniLine& line = lines_[i].parsed;
        if (line.kind == IniLineKind::kSection &&
            (ignoreCase ? SameIgnoringCase(line.name, name) : line.name == name)) {
            span = {i, SectionEnd(i)};
            return true;
        }
    }
    return false;
}

void IniRewrite::Replace(size_t index, std::string_view text) {
    Line& line = lines_[index];
    line.replacement = std::string(text) + (line.raw.ends_with('\r') ? "\r" : "");
    line.replaced = true;
}

void IniRewrite::Drop(size_t index) {
    lines_[index].dropped = true;
}

void IniRewrite::AddAfter(size_t index, std::string_view text) {
    lines_[index].added.emplace_back(text);
}

void IniRewrite::AddAtEnd(std::string_view text) {
    if (lines_.empty())
        leading_.emplace_back(text);
    else
        lines_.back().added.emplace_back(text);
}

std::string IniRewrite::Text() const {
    std::string out(byteOrderMark_);
    for (const std::string& added : leading_)
        out += added + "\n";
    for (size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        const bool last = i + 1 == lines_.size();
        if (!line.dropped) {
            out += line.replaced ? std::string_view(line.replacement) : line.raw;
            // A last line without a line end keeps it that way, unless lines follow.
            if (!last || lastLineEnded_ || !line.added.empty())
                out += '\n';
        }
        for (const std::string& added : line.added)
            out += added + "\n";
    }
    return out;
}

}  // namespace fileio
