#include "GpibController.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>

namespace kio {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kEscape = 27;
// What the controller is told once per connection: controller mode, no
// automatic read after each message, EOI with the last byte sent, and LF
// (the dialogue's terminator) sent after each message.
constexpr std::string_view kSetUp = "++mode 1\n++auto 0\n++eoi 1\n++eos 2\n";
constexpr std::string_view kReadReply = "++read eoi\n";
constexpr uint32_t kLongestControllerRead = 3000;
// Beyond its read time-out, the time a controller has to say it read nothing.
constexpr uint32_t kReadWindowGraceMs = 200;
// How long a controller has at most to answer "++ver" once a reply has not
// come; never longer than the I/O time-out.
constexpr uint32_t kAnswerCheckMs = 1000;
// A holder may keep the controller a little past its time-out: the read
// window's grace and the answer check.
constexpr uint32_t kHolderSlackMs = kReadWindowGraceMs + kAnswerCheckMs;

// Rounded up: a wait of 0 with time still left would return at once, again and again.
uint32_t MsUntil(Clock::time_point end) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}

class GpibTransport : public Transport {
  public:
    GpibTransport(std::shared_ptr<GpibController> controller, GpibTarget target)
        : controller_(std::move(controller)), target_(target) {}
    ~GpibTransport() override { EndReply(); }

    bool WriteAll(std::span<const char> bytes, uint32_t timeoutMs) override {
        EndReply();  // a new message ends any reply still being read
        problem_.clear();
        if (interrupted_)
            return Interrupted() >= 0;
        timeoutMs_ = timeoutMs;
        if (!ClaimFor(timeoutMs, kDropStaleBytes))
            return false;
        bool sent = controller_->Address(target_, ControllerReadTimeout(timeoutMs), timeoutMs) &&
                    controller_->Send(EscapeControllerData(bytes), timeoutMs);
        controller_->Release();
        if (!sent)
            problem_ = "the GPIB controller " + controller_->Name() + " does not take data";
        return sent;
    }

    long ReadSome(std::span<char> into, uint32_t waitMs) override {
        problem_.clear();
        if (interrupted_)
            return Interrupted();
        if (!reading_ && !StartReply(waitMs))
            return -1;
        // The wait for the bus is not the instrument's: its time starts once it is asked.
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            if (interrupted_)
                return Interrupted();
            if (Clock::now() >= deadline)
                return GiveUp();
            if (Clock::now() >= windowEnd_) {
                // The controller's read ended with nothing; the reply may still come.
                if (!RequestReply())
                    return -1;
                continue;
            }
            const Clock::time_point until =
                std::min({deadline, windowEnd_,
                          Clock::now() + std::chrono::milliseconds(kInterruptCheckMs)});
            long n = controller_->Read(into, MsUntil(until));
            if (n < 0) {
                EndReply();
                problem_ = LostProblem();
                return -1;
            }
            if (n > 0) {
                TookReplyBytes(into.first(static_cast<size_t>(n)));
                return n;
            }
        }
    }

    std::string Problem() const override { return problem_; }

    // Ends this session's wait for a reply within kInterruptCheckMs; the
    // controller stays, for the sessions of the other instruments on it.
    void Interrupt() override { interrupted_ = true; }

  private:
    // A connection that failed once is not used again: what is written to it
    // may vanish while the write looks done. Dropping stale bytes may be what
    // finds the connection gone, so it comes before the check.
    static constexpr bool kDropStaleBytes = true;
    bool ClaimFor(uint32_t waitMs, bool dropStaleBytes = false) {
        if (!controller_->Claim(waitMs)) {
            problem_ =
                "the GPIB controller " + controller_->Name() + " stayed busy with another session";
            return false;
        }
        if (dropStaleBytes)
            controller_->DropStaleBytes();
        if (!controller_->Broken())
            return true;
        controller_->Release();
        problem_ = LostProblem();
        return false;
    }

    std::string LostProblem() const {
        return "the connection to the GPIB controller " + controller_->Name() + " was lost";
    }

    // Addresses the instrument to talk and asks the controller to read; the
    // controller stays held until the reply ends.
    bool StartReply(uint32_t waitMs) {
        if (!ClaimFor(waitMs))
            return false;
        reading_ = true;
        if (!controller_->Address(target_, ControllerReadTimeout(timeoutMs_), timeoutMs_)) {
            EndReply();
            problem_ = "the GPIB controller " + controller_->Name() + " does not take commands";
            return false;
        }
        return RequestReply();
    }

    bool RequestReply() {
        if (!controller_->Send(kReadReply, timeoutMs_)) {
            EndReply();
            problem_ = "the GPIB controller " + controller_->Name() + " does not take commands";
            return false;
        }
        ExtendReadWindow();
        return true;
    }

    // Until when the controller may still be reading: its read time-out runs
    // from the request, and again from each byte it passes on.
    void ExtendReadWindow() {
        windowEnd_ = Clock::now() + std::chrono::milliseconds(ControllerReadTimeout(timeoutMs_) +
                                                              kReadWindowGraceMs);
    }

    // The reply ends with its LF; until then each byte keeps the read going.
    void TookReplyBytes(std::span<const char> bytes) {
        if (std::find(bytes.begin(), bytes.end(), '\n') != bytes.end()) {
            EndReply();
        } else {
            ExtendReadWindow();
        }
    }

    long Interrupted() {
        EndReply();
        problem_ = "interrupted on request";
        return -1;
    }

    // The wait is over without a reply: a time-out, unless the controller
    // itself has stopped answering.
    long GiveUp() {
        bool answers =
            controller_->Answers(std::min(kAnswerCheckMs, ControllerReadTimeout(timeoutMs_)));
        EndReply();
        if (answers)
            return 0;
        problem_ = "the GPIB controller " + controller_->Name() + " does not answer";
        return -1;
    }

    void EndReply() {
        if (reading_) {
            reading_ = false;
            controller_->Release();
        }
    }

    std::shared_ptr<GpibController> controller_;
    GpibTarget target_;
    uint32_t timeoutMs_ = 2000;  // the session's, as its last message carried it
    bool reading_ = false;       // a reply is being read: the controller is held
    std::atomic<bool> interrupted_{false};
    Clock::time_point windowEnd_{};
    std::string problem_;
};

}  // namespace

std::string EscapeControllerData(std::span<const char> bytes) {
    bool terminated = !bytes.empty() && bytes.back() == '\n';
    std::span<const char> data = terminated ? bytes.first(bytes.size() - 1) : bytes;
    std::string escaped;
    escaped.reserve(bytes.size() + 8);
    for (char c : data) {
        if (c == '\r' || c == '\n' || c == kEscape || c == '+')
            escaped.push_back(kEscape);
        escaped.push_back(c);
    }
    if (terminated)
        escaped.push_back('\n');
    return escaped;
}

uint32_t ControllerReadTimeout(uint32_t timeoutMs) {
    return std::clamp<uint32_t>(timeoutMs, 1, kLongestControllerRead);
}

std::string AddressCommand(const GpibTarget& target) {
    std::string command = "++addr " + std::to_string(target.primary);
    if (target.secondary >= 0)
        command += " " + std::to_string(96 + target.secondary);
    return command + "\n";
}

std::chrono::milliseconds ClaimWait(uint32_t waitMs) {
    // Summed in 64 bits: "wait for ever" is the largest 32-bit time-out.
    return std::chrono::milliseconds(uint64_t{waitMs} + kHolderSlackMs);
}

GpibController::GpibController(std::unique_ptr<Transport> link, std::string name)
    : link_(std::move(link)), name_(std::move(name)) {}

bool GpibController::Claim(uint32_t waitMs) {
    std::unique_lock lock(mutex_);
    while (held_) {
        const uint64_t holder = claims_;
        if (!freed_.wait_for(lock, ClaimWait(waitMs), [&] { return !held_ || claims_ != holder; }))
            return false;
    }
    held_ = true;
    ++claims_;
    return true;
}

void GpibController::Release() {
    {
        std::lock_guard lock(mutex_);
        held_ = false;
    }
    freed_.notify_all();
}

bool GpibController::Address(const GpibTarget& target, uint32_t readTimeoutMs, uint32_t timeoutMs) {
    std::string commands;
    if (!setUp_)
        commands = kSetUp;
    if (readTimeoutMs != readTimeoutMs_)
        commands += "++read_tmo_ms " + std::to_string(readTimeoutMs) + "\n";
    if (addressed_ != target)
        commands += AddressCommand(target);
    if (commands.empty())
        return true;
    if (!Send(commands, timeoutMs))
        return false;
    setUp_ = true;
    readTimeoutMs_ = readTimeoutMs;
    addressed_ = target;
    return true;
}

bool GpibController::Send(std::string_view text, uint32_t timeoutMs) {
    if (link_->WriteAll(text, timeoutMs))
        return true;
    std::lock_guard lock(mutex_);
    broken_ = true;
    return false;
}

long GpibController::Read(std::span<char> into, uint32_t waitMs) {
    long n = link_->ReadSome(into, waitMs);
    if (n < 0) {
        std::lock_guard lock(mutex_);
        broken_ = true;
    }
    return n;
}

bool GpibController::Answers(uint32_t waitMs) {
    if (!Send("++ver\n", waitMs))
        return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    std::array<char, 256> buffer{};
    for (uint32_t left = waitMs; left > 0; left = MsUntil(deadline)) {
        long n = Read(buffer, left);
        if (n < 0)
            return false;
        if (std::find(buffer.begin(), buffer.begin() + n, '\n') != buffer.begin() + n)
            return true;
    }
    return false;
}

void GpibController::DropStaleBytes() {
    // Bounded, so a controller that never stops talking cannot hold a writer here.
    constexpr int kMostPieces = 64;
    std::array<char, 256> buffer{};
    for (int piece = 0; piece < kMostPieces && Read(buffer, 0) > 0; ++piece) {
    }
}

bool GpibController::Broken() const {
    std::lock_guard lock(mutex_);
    return broken_;
}

std::unique_ptr<Transport> MakeGpibTransport(std::shared_ptr<GpibController> controller,
                                             GpibTarget target) {
    return std::make_unique<GpibTransport>(std::move(controller), target);
}

}  // namespace kio
