// The update procedure's window for one instrument, without a display: its
// questions answered by the policy, its messages and boxes written to the
// instrument's log file, its progress bar drawn on the shared board.
#pragma once

#include <string>

#include "Policy.h"
#include "ProgressBoard.h"
#include "WindowHooks.h"

namespace fleet {

// Which revision question the procedure asked, if any.
enum class RevisionQuestion { kNone, kSameRevision, kOlderUpdate };

class ConsoleWindow final : public kestrel::WindowServices,
                            public kestrel::MessageList,
                            public kestrel::ProgressBar {
  public:
    // `logPath` empty: no log. The log is appended to, so each run's log is
    // kept: a run starts with a line "==== kr470-fleet run ====". It is opened
    // as every file the tools write (a regular file, links by fileio's rule);
    // one that cannot be opened is said on standard error.
    ConsoleWindow(const Policy& policy, ProgressBoard& board, size_t row,
                  const std::string& logPath);
    ~ConsoleWindow();
    ConsoleWindow(const ConsoleWindow&) = delete;
    ConsoleWindow& operator=(const ConsoleWindow&) = delete;

    kestrel::Answer ShowMessage(const std::string& text, kestrel::Buttons buttons,
                                kestrel::Icon icon, const std::string& title) override;
    void Breathe() override {}
    void AddLine(const std::string& text) override;
    void Redraw() override {}
    void SetMinimum(int value) override;
    void SetMaximum(int value) override { maximum_ = value; }
    int Maximum() const override { return maximum_; }
    void SetValue(int value) override;

    // Writes a line to the log, its control bytes made '?' (an address or a
    // reply may carry any).
    void Log(const std::string& text);
    bool LogOpen() const { return log_ >= 0; }

    int Passes() const { return passes_; }
    RevisionQuestion RevisionAsked() const { return revisionAsked_; }
    bool RevisionDeclined() const { return revisionDeclined_; }
    // Why the procedure ended, for the report: the last box that told rather
    // than asked, or the question answered no (a failure's reason), its lines
    // joined by " / ".
    const std::string& LastNotice() const { return lastNotice_; }

  private:
    kestrel::Answer Answer(const std::string& text);
    kestrel::Answer AnswerRevision(const std::string& text);
    bool Retry();
    std::string ReasonOf(const std::string& question) const;

    const Policy& policy_;
    ProgressBoard& board_;
    size_t row_;
    int log_ = -1;
    int maximum_ = 0;
    int passes_ = 0;
    int retriesUsed_ = 0;
    RevisionQuestion revisionAsked_ = RevisionQuestion::kNone;
    bool revisionDeclined_ = false;
    std::string lastNotice_;
    std::string lastLine_;  // the last line the procedure added to its list
};

// A box's text on one line: its line ends become " / " (empty lines dropped).
std::string OneLine(const std::string& text);

}  // namespace fleet
