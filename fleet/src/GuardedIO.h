// The I/O object one instrument's update runs through. It passes every
// command on, except that it
//  - sends nothing more once a stop is requested (unless the commit is
//    already sent), so a stop lands between two records and an interrupted
//    pass is never committed; a call waiting for the instrument when the stop
//    comes is interrupted (where the bus allows) and ends the update as
//    stopped, not failed;
//  - in a dry run sends "*IDN?" and nothing else;
//  - refuses to go on past the first "*IDN?" when its serial number is not
//    the one expected;
//  - keeps the identification before and after the update and where the
//    download stands.
// Where it refuses, it throws a Halt: no run-time error of the procedure's,
// so the procedure's own handlers let it through to its outermost one, which
// ends the update.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "InstrumentIO.h"
#include "StopSignal.h"

namespace fleet {

enum class Phase { kIdle, kDownloading, kCommitted };
enum class HaltReason { kNone, kStopped, kDryRunDone, kWrongSerial };

class Halt : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct GuardSettings {
    bool dryRun = false;
    std::string expectedSerial;  // empty: any
    int32_t replyTimeoutMs = 0;  // 0: the procedure's own
};

class GuardedIO final : public kestrel::InstrumentIO {
  public:
    // `onPhase` is told each change of phase (download started, committed).
    GuardedIO(std::unique_ptr<kestrel::InstrumentIO> inner, GuardSettings settings,
              const StopSignal& stop, std::function<void(Phase)> onPhase = {});
    ~GuardedIO() override;
    GuardedIO(const GuardedIO&) = delete;
    GuardedIO& operator=(const GuardedIO&) = delete;

    std::string GetAddress() override { return inner_->GetAddress(); }
    void ReadReply(std::string& reply, const std::string& format) override;
    void ReadReply(std::vector<std::string>& fields, const std::string& format) override;
    std::string GetInterfaceKind() override { return inner_->GetInterfaceKind(); }
    void SendCommand(const std::string& command) override;
    std::string SendQuery(const std::string& query) override;
    void SetTimeout(int32_t milliseconds) override;

    Phase CurrentPhase() const { return phase_.load(); }
    HaltReason Halted() const { return halted_; }
    const std::optional<std::string>& IdentificationBefore() const { return before_; }
    const std::optional<std::string>& IdentificationAfter() const { return after_; }

  private:
    // False when the command is to be skipped; throws when the update must end.
    bool Admit(const std::string& command);
    [[noreturn]] void Refuse(HaltReason reason, const std::string& why);
    void Sent(const std::string& command);
    void NoteIdentification(const std::string& reply);
    // Runs an inner call; its failure after a stop ends the update as stopped.
    template <typename Call>
    auto Passed(const std::string& command, Call call);

    std::unique_ptr<kestrel::InstrumentIO> inner_;
    GuardSettings settings_;
    const StopSignal& stop_;
    std::function<void(Phase)> onPhase_;
    // Whether the commit is on its way: a stop then interrupts nothing.
    bool Committing() const { return commitSent_.load(); }

    std::atomic<Phase> phase_{Phase::kIdle};  // read by the stop's watcher too
    std::atomic<bool> commitSent_{false};
    size_t stopTicket_ = 0;
    HaltReason halted_ = HaltReason::kNone;
    std::optional<std::string> before_, after_;
};

// The serial number of an identification ("maker,model,serial,revisions").
std::string SerialOf(const std::string& identification);

}  // namespace fleet
