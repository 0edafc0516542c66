#include "GuardedIO.h"

#include "TextRules.h"

namespace fleet {
namespace {

constexpr const char* kIdentify = "*IDN?";

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

}  // namespace

std::string SerialOf(const std::string& identification) {
    size_t first = identification.find(',');
    size_t second = first == std::string::npos ? first : identification.find(',', first + 1);
    if (second == std::string::npos) {
        return "";
    }
    size_t third = identification.find(',', second + 1);
    return std::string(fileio::Trim(identification.substr(
        second + 1, third == std::string::npos ? third : third - second - 1)));
}

GuardedIO::GuardedIO(std::unique_ptr<kestrel::InstrumentIO> inner, GuardSettings settings,
                     const StopSignal& stop, std::function<void(Phase)> onPhase)
    : inner_(std::move(inner)),
      settings_(std::move(settings)),
      stop_(stop),
      onPhase_(std::move(onPhase)) {
    stopTicket_ = stop_.OnStop([this] {
        if (!Committing()) {
            inner_->Interrupt();
        }
    });
}

GuardedIO::~GuardedIO() {
    stop_.Withdraw(stopTicket_);
}

template <typename Call>
auto GuardedIO::Passed(const std::string& command, Call call) {
    try {
        return call();
    } catch (const std::exception&) {
        if (stop_.Requested() && !Committing()) {
            Refuse(HaltReason::kStopped, "Stopped on request during \"" + command.substr(0, 40) +
                                             "\"; its answer was not waited for.");
        }
        throw;
    }
}

void GuardedIO::Refuse(HaltReason reason, const std::string& why) {
    halted_ = reason;
    throw Halt(why);
}

bool GuardedIO::Admit(const std::string& command) {
    if (halted_ != HaltReason::kNone) {
        throw Halt("nothing more is sent");  // the procedure never gets here; kept safe anyway
    }
    if (stop_.Requested() && phase_ != Phase::kCommitted) {
        Refuse(HaltReason::kStopped, "Stopped on request before \"" + command.substr(0, 40) +
                                         "\"; nothing more was sent.");
    }
    if (settings_.dryRun && command != kIdentify) {
        if (command == "SYST:REM") {
            return false;  // remote mode is no identification: a dry run leaves it
        }
        Refuse(HaltReason::kDryRunDone, "Dry run: the checks are done; nothing more is sent.");
    }
    return true;
}

void GuardedIO::Sent(const std::string& command) {
    Phase next = phase_;
    if (StartsWith(command, "dlo:start")) {
        next = Phase::kDownloading;
    } else if (StartsWith(command, "dlo:comp")) {
        next = Phase::kCommitted;
    }
    if (next != phase_) {
        phase_ = next;
        if (onPhase_) {
            onPhase_(phase_);
        }
    }
}

void GuardedIO::NoteIdentification(const std::string& reply) {
    if (before_) {
        after_ = reply;
        return;
    }
    before_ = reply;
    if (!settings_.expectedSerial.empty() && SerialOf(reply) != settings_.expectedSerial) {
        Refuse(HaltReason::kWrongSerial, "Serial number " + SerialOf(reply) + " is not the " +
                                             settings_.expectedSerial + " the plan names.");
    }
}

void GuardedIO::SendCommand(const std::string& command) {
    if (Admit(command)) {
        if (StartsWith(command, "dlo:comp")) {
            commitSent_ = true;  // from here on a stop lets the commit and its checks end
        }
        Passed(command, [&] { inner_->SendCommand(command); });
        Sent(command);
    }
}

std::string GuardedIO::SendQuery(const std::string& query) {
    if (!Admit(query)) {
        return "";
    }
    std::string reply = Passed(query, [&] { return inner_->SendQuery(query); });
    Sent(query);
    if (query == kIdentify) {
        NoteIdentification(reply);
    }
    return reply;
}

void GuardedIO::ReadReply(std::string& reply, const std::string& format) {
    Passed("the reply", [&] { inner_->ReadReply(reply, format); });
}

void GuardedIO::ReadReply(std::vector<std::string>& fields, const std::string& format) {
    Passed("the reply", [&] { inner_->ReadReply(fields, format); });
}

void GuardedIO::SetTimeout(int32_t milliseconds) {
    inner_->SetTimeout(settings_.replyTimeoutMs > 0 ? settings_.replyTimeoutMs : milliseconds);
}

}  // namespace fleet
