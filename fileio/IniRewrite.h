// Rewriting one of our INI-like texts while keeping every line that is not
// changed as it was: comments, blank lines, order, a byte-order mark, CR line
// ends and a last line without a line end. Lines are marked to be replaced,
// dropped or followed by new lines, by their index in the text as read;
// Text() puts the result together, so marking never moves an index.
// How a line is written and how a value is encoded stay with the caller.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "IniFile.h"

namespace fileio {

// A section's lines: its header and everything up to the next header.
struct IniSectionSpan {
    size_t header = 0;
    size_t end = 0;  // index after its last line
};

class IniRewrite {
  public:
    using Parser = std::function<IniLine(std::string_view)>;

    // `parse` reads a line the caller's way (ParseIniLine when empty).
    explicit IniRewrite(std::string_view text, const Parser& parse = {});

    size_t LineCount() const { return lines_.size(); }
    const IniLine& Parsed(size_t index) const { return lines_[index].parsed; }

    // Where `name`'s first section is: false when there is none.
    bool FindSection(std::string_view name, bool ignoreCase, IniSectionSpan& span) const;
    // Where the section whose header is line `header` ends.
    size_t SectionEnd(size_t header) const;

    // A line's new text; a CR it ended with stays.
    void Replace(size_t index, std::string_view text);
    void Drop(size_t index);
    // New lines after line `index`, in the order added.
    void AddAfter(size_t index, std::string_view text);
    // New lines after the last one.
    void AddAtEnd(std::string_view text);

    std::string Text() const;

  private:
    struct Line {
        std::string_view raw;
        IniLine parsed;
        std::string replacement;
        bool replaced = false;
        bool dropped = false;
        std::vector<std::string> added;
    };

    std::string_view byteOrderMark_;
    bool lastLineEnded_ = true;
    std::vector<std::string> leading_;  // lines added to a text without lines
    std::vector<Line> lines_;
};

}  // namespace fileio
