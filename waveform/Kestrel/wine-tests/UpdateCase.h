// One whole update through the plug-in's setup window, as both runners take
// it: the Windows driver (Kestrel.dll under Wine, the window operated from
// outside by control id) and the Linux reference runner (the Qt window, boxes
// answered through its hook). Both read the same command line and write the
// same record of the message boxes, so the two sides compare byte for byte.
// No platform code here.
#pragma once

#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::e2e {

// A box's buttons, numbered as the Win32 button ids are.
enum class Reply { kOk = 1, kCancel = 2, kYes = 6, kNo = 7 };

std::string_view ReplyName(Reply reply);

struct CaseOptions {
    std::string address;         // typed into the address box
    std::string file;            // typed into the update file box
    bool strict = true;          // "Strict Checking (Slower)"
    std::vector<Reply> answers;  // one a box, in order
    std::string boxes;           // where each box is recorded as it is answered
    int deadlineSeconds = 60;    // for each window to appear
    std::string dll;             // driver only: load this DLL instead of the registered class
};

// Options: --address A --file F --boxes OUT [--strict on|off]
// [--answers yes,no,ok,cancel] [--deadline S] [--dll PATH]. Nothing, and
// `error` says why, when they are not that.
std::optional<CaseOptions> ParseCaseOptions(std::span<char* const> args, std::string& error);
extern const char* const kCaseUsage;

// Answers the boxes from the script and records each one as a line: title,
// text and the reply, tab-separated, control characters escaped. A box that
// the script has no answer for, or whose buttons lack the scripted one, gets
// its way out (No, Cancel or OK) and counts as a failure.
class BoxAnswerer {
  public:
    BoxAnswerer(std::vector<Reply> script, const std::string& recordPath);
    Reply Answer(const std::string& title, const std::string& text, std::span<const Reply> offered);
    // Empty while every box got its scripted answer and every answer was used.
    std::string Failure() const;
    bool RecordOpen() const { return record_.is_open(); }

  private:
    std::vector<Reply> script_;
    size_t next_ = 0;
    std::string failure_;
    std::ofstream record_;
};

// "\r", "\n", "\t" and "\\" spelled out: one box, one line.
std::string EscapeControls(std::string_view text);

}  // namespace kestrel::e2e
