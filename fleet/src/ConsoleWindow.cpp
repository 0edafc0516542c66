#include "ConsoleWindow.h"

#include <time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>

#include "Printable.h"
#include "RuntimeError.h"
#include "WritePath.h"

namespace fleet {
namespace {

using kestrel::Buttons;

constexpr const char* kRevisionQuestion =
    "Instrument version greater than or equal to update version!";
constexpr const char* kGoAhead = "Do you want to continue with update? (Y/N)";
constexpr const char* kErrorQueueQuestion = "Error occurred during upload.";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The rest of the line that starts with `label` in a box's text.
std::string ValueAfter(const std::string& text, const std::string& label) {
    size_t at = text.find(label);
    if (at == std::string::npos) {
        return "";
    }
    at += label.size();
    return text.substr(at, text.find('\r', at) - at);
}

bool SameRevision(const std::string& text) {
    try {
        return kestrel::ToDouble(ValueAfter(text, "Instrument Version ")) ==
               kestrel::ToDouble(ValueAfter(text, "Update Version "));
    } catch (const kestrel::RuntimeError&) {
        return false;  // not comparable: treated as the riskier case
    }
}

std::string TimeStamp() {
    auto now = std::chrono::system_clock::now();
    time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    tm utc{};
    gmtime_r(&seconds, &utc);
    std::array<char, 40> text{};
    strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &utc);
    std::array<char, 8> fraction{};
    std::snprintf(fraction.data(), fraction.size(), ".%03dZ", static_cast<int>(millis.count()));
    return std::string(text.data()) + fraction.data();
}

const char* AnswerName(kestrel::Answer answer) {
    switch (answer) {
        case kestrel::Answer::kYes:
            return "Yes";
        case kestrel::Answer::kNo:
            return "No";
        case kestrel::Answer::kCancel:
            return "Cancel";
        case kestrel::Answer::kOk:
            break;
    }
    return "OK";
}

}  // namespace

std::string OneLine(const std::string& text) {
    std::string line;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find_first_of("\r\n", start);
        std::string piece = text.substr(start, end == std::string::npos ? end : end - start);
        if (!piece.empty()) {
            line += (line.empty() ? "" : " / ") + piece;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return line;
}

ConsoleWindow::ConsoleWindow(const Policy& policy, ProgressBoard& board, size_t row,
                             const std::string& logPath)
    : policy_(policy), board_(board), row_(row) {
    if (logPath.empty()) {
        return;
    }
    std::string problem;
    log_ = fileio::OpenForAppending(logPath, problem);
    if (log_ < 0) {
        std::fprintf(stderr, "kr470-fleet: no log: %s\n", problem.c_str());
        return;
    }
    Log("==== kr470-fleet run ====");
}

ConsoleWindow::~ConsoleWindow() {
    if (log_ >= 0) {
        ::close(log_);
    }
}

void ConsoleWindow::Log(const std::string& text) {
    if (log_ < 0) {
        return;
    }
    // One write a line: the file is opened for appending, so lines never mix.
    const std::string line = TimeStamp() + ' ' + Printable(text) + '\n';
    if (::write(log_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        std::fprintf(stderr, "kr470-fleet: the log stops here: a line was not written\n");
        ::close(log_);
        log_ = -1;
    }
}

void ConsoleWindow::AddLine(const std::string& text) {
    lastLine_ = text;
    Log(text);
}

// Why the run ends when a question is answered no: the question's statement
// without the question, and for the error queue the instrument's own entry.
std::string ConsoleWindow::ReasonOf(const std::string& question) const {
    std::string reason = OneLine(question);
    for (const char* ask : {"Try download again? (Y/N)", "Try again? (Y/N)"}) {
        if (EndsWith(reason, ask)) {
            reason.erase(reason.size() - std::string(ask).size());
        }
    }
    while (!reason.empty() && (reason.back() == ' ' || reason.back() == '/')) {
        reason.pop_back();
    }
    if (question.rfind(kErrorQueueQuestion, 0) == 0 && !lastLine_.empty()) {
        reason += " The instrument's error queue: " + OneLine(lastLine_);
    }
    return reason;
}

kestrel::Answer ConsoleWindow::ShowMessage(const std::string& text, Buttons buttons, kestrel::Icon,
                                           const std::string& title) {
    kestrel::Answer answer = kestrel::Answer::kOk;
    if (buttons == Buttons::kYesNo || buttons == Buttons::kYesNoCancel) {
        answer = Answer(text);
        if (answer != kestrel::Answer::kYes) {
            lastNotice_ = ReasonOf(text);  // the run ends here: the report says why
        }
    } else if (buttons == Buttons::kOkCancel) {
        answer = kestrel::Answer::kCancel;  // no such box is known: cancel is the safe answer
    } else {
        lastNotice_ = OneLine(text);
    }
    Log("[" + title + "] " + OneLine(text) + " -> " + AnswerName(answer));
    return answer;
}

kestrel::Answer ConsoleWindow::Answer(const std::string& text) {
    using kestrel::Answer;
    if (text.rfind(kRevisionQuestion, 0) == 0) {
        return AnswerRevision(text);
    }
    if (EndsWith(text, kGoAhead)) {
        return Answer::kYes;  // running the tool on the plan is the go-ahead
    }
    if (EndsWith(text, "Try again? (Y/N)") || EndsWith(text, "Try download again? (Y/N)")) {
        return Retry() ? Answer::kYes : Answer::kNo;
    }
    return Answer::kNo;  // a question no policy covers
}

kestrel::Answer ConsoleWindow::AnswerRevision(const std::string& text) {
    const bool same = SameRevision(text);
    revisionAsked_ = same ? RevisionQuestion::kSameRevision : RevisionQuestion::kOlderUpdate;
    revisionDeclined_ = !(same ? policy_.yesSameRevision : policy_.yesOlderUpdate);
    // A dry run goes on to check the update file whatever the answer would be.
    return revisionDeclined_ && !policy_.dryRun ? kestrel::Answer::kNo : kestrel::Answer::kYes;
}

bool ConsoleWindow::Retry() {
    if (retriesUsed_ >= policy_.retryPasses) {
        return false;
    }
    ++retriesUsed_;
    return true;
}

void ConsoleWindow::SetMinimum(int) {
    ++passes_;  // the procedure sets the bar up once at the start of every pass
    board_.SetState(row_, "downloading");
    board_.SetProgress(row_, passes_, 0, maximum_);
}

void ConsoleWindow::SetValue(int value) {
    board_.SetProgress(row_, passes_, value < maximum_ ? value : maximum_, maximum_);
}

}  // namespace fleet
