// The VXI-11 core channel as a transport: each write is one device_write
// (split at the server's maxRecvSize, END on the last piece), each read one
// device_read bounded by the session's wait and by the room it reads into.
#include <algorithm>
#include <array>
#include <cstdint>

#include "Deadline.h"
#include "ProcessId.h"
#include "RpcClient.h"
#include "Vxi11.h"
#include "Vxi11Messages.h"
#include "Vxi11Numbers.h"

namespace kio {
namespace {

namespace core = kr470::vxi11;

// The RPC reply may come this much later than the device's own time-out.
constexpr uint32_t kCallMarginMs = 1000;
// destroy_link on close waits no longer than this for a server gone quiet.
constexpr uint32_t kUnlinkWaitMs = 1000;
// Used when the server announces a maxRecvSize of 0, which it must not.
constexpr uint32_t kSmallestRecvSize = 1024;
// A reply record's size beyond its results: the reply header, then the
// results' fixed words and the padding of device_read's data.
constexpr size_t kReplyAllowance = kr470::rpc::kLongestReplyHeader + vxi11::kLongestFixedResults;

struct ErrorName {
    int32_t code;
    const char* name;
};
// The error codes of the core channel's replies.
constexpr std::array kErrorNames = {
    ErrorName{1, "syntax error"},
    ErrorName{3, "device not accessible"},
    ErrorName{4, "invalid link identifier"},
    ErrorName{5, "parameter error"},
    ErrorName{6, "channel not established"},
    ErrorName{8, "operation not supported"},
    ErrorName{9, "out of resources"},
    ErrorName{11, "device locked by another link"},
    ErrorName{12, "no lock held by this link"},
    ErrorName{15, "I/O timeout"},
    ErrorName{17, "I/O error"},
    ErrorName{21, "invalid address"},
    ErrorName{23, "abort"},
    ErrorName{29, "channel already established"},
};

std::string ErrorText(const std::string& call, int32_t code) {
    auto known = std::find_if(kErrorNames.begin(), kErrorNames.end(),
                              [code](const ErrorName& e) { return e.code == code; });
    const char* name = known == kErrorNames.end() ? "unknown error" : known->name;
    return call + " failed with VXI-11 error " + std::to_string(code) + " (" + name + ")";
}

uint32_t CallWaitMs(uint32_t deviceTimeoutMs) {
    if (deviceTimeoutMs >= UINT32_MAX - kCallMarginMs)
        return UINT32_MAX;
    return deviceTimeoutMs + kCallMarginMs;
}

class Vxi11Transport : public Transport {
  public:
    Vxi11Transport(std::unique_ptr<RpcClient> rpc, std::string where, int32_t link,
                   uint32_t maxRecvSize)
        : rpc_(std::move(rpc)),
          where_(std::move(where)),
          link_(link),
          maxRecvSize_(maxRecvSize == 0 ? kSmallestRecvSize : maxRecvSize) {}

    ~Vxi11Transport() override {
        if (broken_)
            return;
        std::string results, ignored;
        rpc_->Call(core::kDestroyLink, vxi11::DestroyLinkArguments(link_), kReplyAllowance,
                   kUnlinkWaitMs, results, ignored);
    }

    // The whole write within `timeoutMs`, however many device_write calls it
    // takes: a server taking a byte at a time must not stretch it.
    bool WriteAll(std::span<const char> bytes, uint32_t timeoutMs) override {
        const auto deadline = DeadlineIn(timeoutMs);
        do {
            const size_t piece = std::min<size_t>(bytes.size(), maxRecvSize_);
            const bool last = piece == bytes.size();
            const uint32_t leftMs = MsLeft(deadline);
            if (leftMs == 0) {
                failure_ = ErrorText("device_write", core::kIoTimeout);
                return false;
            }
            size_t taken = 0;
            if (!WritePiece(bytes.first(piece), last, leftMs, taken))
                return false;
            bytes = bytes.subspan(taken);
        } while (!bytes.empty());
        return true;
    }

    // A message that ends (END) without a line feed, as some instruments send
    // them, still ends the reply line: the session reads lines, so one is added.
    long ReadSome(std::span<char> into, uint32_t waitMs) override {
        if (broken_)
            return -1;
        if (into.size() < 2)
            return Fail("device_read needs room for a byte and a line feed");
        // One place is kept for that line feed.
        const size_t room = std::min<size_t>(into.size() - 1, UINT32_MAX);
        std::string results;
        const RpcClient::Outcome outcome = Call(
            core::kDeviceRead, vxi11::ReadArguments(link_, static_cast<uint32_t>(room), waitMs),
            room + kReplyAllowance, waitMs, results);
        if (outcome == RpcClient::Outcome::kFailed)
            return -1;
        vxi11::ReadReply reply;
        switch (vxi11::ReadReadReply(results, into.first(room), reply)) {
            case vxi11::ReadDecode::kDone:
                if (outcome == RpcClient::Outcome::kTooLarge)
                    return -1;  // more than its data, and Call said so
                break;
            case vxi11::ReadDecode::kCutShort:
                return outcome == RpcClient::Outcome::kTooLarge ? -1 : Undecodable();
            case vxi11::ReadDecode::kLongerThanAsked:
                return Broken(where_ + ": device_read returned " + std::to_string(reply.length) +
                              " bytes for " + std::to_string(room) + " asked");
        }
        const bool timedOut = reply.error == core::kIoTimeout;
        if (reply.error != core::kNoError && !timedOut)
            return Fail(ErrorText("device_read", reply.error));
        size_t got = reply.length;
        if (timedOut)
            return static_cast<long>(got);  // what came within the wait: the session decides
        const bool ended = (reply.reason & core::kReasonEnd) != 0;
        if (ended && (got == 0 || into[got - 1] != '\n'))
            into[got++] = '\n';
        return static_cast<long>(got);
    }

    std::string Problem() const override { return failure_; }

    void Interrupt() override { rpc_->Interrupt(); }

  private:
    bool WritePiece(std::span<const char> piece, bool last, uint32_t timeoutMs, size_t& taken) {
        if (broken_)
            return false;
        std::string results;
        if (Call(core::kDeviceWrite, vxi11::WriteArguments(link_, timeoutMs, last, piece),
                 kReplyAllowance, timeoutMs, results) != RpcClient::Outcome::kDone)
            return false;
        vxi11::WriteReply reply;
        if (!vxi11::ReadWriteReply(results, reply)) {
            Undecodable();
            return false;
        }
        if (reply.error != core::kNoError) {
            failure_ = ErrorText("device_write", reply.error);
            return false;
        }
        if (reply.size > piece.size() || (reply.size == 0 && !piece.empty())) {
            failure_ = "device_write took " + std::to_string(reply.size) + " of " +
                       std::to_string(piece.size()) + " bytes";
            return false;
        }
        taken = reply.size;
        return true;
    }

    // A call that fails at the RPC level leaves the link unusable: a late
    // reply or a half-sent record would confuse every later call. So does a
    // reply too large to read, or one that cannot be decoded.
    RpcClient::Outcome Call(uint32_t procedure, std::string_view arguments, size_t replyLimit,
                            uint32_t deviceTimeoutMs, std::string& results) {
        std::string why;
        const RpcClient::Outcome outcome =
            rpc_->Call(procedure, arguments, replyLimit, CallWaitMs(deviceTimeoutMs), results, why);
        if (outcome != RpcClient::Outcome::kDone)
            Broken(where_ + ": " + why);
        return outcome;
    }

    long Undecodable() { return Broken(where_ + ": RPC: Can't decode result"); }

    long Broken(std::string why) {
        broken_ = true;
        return Fail(std::move(why));
    }

    long Fail(std::string why) {
        failure_ = std::move(why);
        return -1;
    }

    std::unique_ptr<RpcClient> rpc_;
    std::string where_;
    int32_t link_;
    uint32_t maxRecvSize_;
    bool broken_ = false;
    std::string failure_;
};

}  // namespace

std::unique_ptr<Transport> OpenVxi11(const std::string& host, const std::string& port,
                                     const std::string& device, uint32_t timeoutMs,
                                     std::string& why) {
    const auto opening = DeadlineIn(timeoutMs);
    const std::string where = host + ":" + port;
    std::unique_ptr<RpcClient> rpc =
        RpcClient::Connect(host, port, core::kCoreProgram, core::kCoreVersion, timeoutMs, why);
    if (!rpc)
        return nullptr;
    // The link is made within what the connect left of the time-out.
    const uint32_t leftMs = MsLeft(opening);
    std::string results;
    vxi11::LinkReply reply;
    if (leftMs == 0) {
        why = where + ": create_link: RPC: Timed out";
        return nullptr;
    }
    if (rpc->Call(core::kCreateLink, vxi11::CreateLinkArguments(CurrentProcessId(), device),
                  kReplyAllowance, leftMs, results, why) != RpcClient::Outcome::kDone) {
        why = where + ": create_link: " + why;
        return nullptr;
    }
    if (!vxi11::ReadLinkReply(results, reply)) {
        why = where + ": create_link: RPC: Can't decode result";
        return nullptr;
    }
    if (reply.error != core::kNoError) {
        why = where + ": " + ErrorText("create_link \"" + device + "\"", reply.error);
        return nullptr;
    }
    return std::make_unique<Vxi11Transport>(std::move(rpc), where, reply.link, reply.maxRecvSize);
}

}  // namespace kio
