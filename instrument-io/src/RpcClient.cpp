// One ONC RPC client for both platforms, over the transport's bytes: the
// call's record goes out within the call's deadline, and records are read
// until the reply with the call's xid is in or the deadline has passed. The
// deadline is the whole call's, not one read's, so a server streaming replies
// to other calls cannot hold a call past it. Each fragment's length is
// checked before its bytes are kept, so a reply is never larger than the
// caller allows, whatever the server announces. Failures read as the RPC
// library's own texts ("RPC: Timed out", ...), which users already know.
#include "RpcClient.h"

#include <algorithm>
#include <cstdio>

#include "Deadline.h"
#include "Vxi11.h"

namespace kio {
namespace {

namespace rpc = kr470::rpc;

constexpr const char* kPortmapperPort = "111";
// The most read from the transport at a time.
constexpr size_t kReadChunk = 64 * 1024;
// A reply with a port or a status in it.
constexpr size_t kSmallReply = rpc::kLongestReplyHeader + 64;

// Where transaction ids start: different for each client, so that a reply
// left over from an earlier connection is not taken for a new call's.
uint32_t FirstXid(const void* client) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<uint32_t>(now) ^ static_cast<uint32_t>(reinterpret_cast<uintptr_t>(client));
}

std::string Versions(const rpc::ReplyHeader& header) {
    return "; low version = " + std::to_string(header.low) +
           ", high version = " + std::to_string(header.high);
}

std::string RefusalText(const rpc::ReplyHeader& header) {
    if (!header.accepted) {
        if (header.rejectStatus == rpc::kRpcMismatch)
            return "RPC: Incompatible versions of RPC" + Versions(header);
        return "RPC: Authentication error";
    }
    switch (header.acceptStatus) {
        case rpc::kProgramUnavailable:
            return "RPC: Program unavailable";
        case rpc::kProgramMismatch:
            return "RPC: Program/version mismatch" + Versions(header);
        case rpc::kProcedureUnavailable:
            return "RPC: Procedure unavailable";
        case rpc::kGarbageArguments:
            return "RPC: Server can't decode arguments";
        case rpc::kSystemError:
            return "RPC: Remote system error";
        default:
            return "RPC: Failed (unspecified error)";
    }
}

}  // namespace

RpcClient::RpcClient(std::unique_ptr<Transport> transport, uint32_t program, uint32_t version)
    : transport_(std::move(transport)),
      program_(program),
      version_(version),
      nextXid_(FirstXid(this)),
      buffer_(kReadChunk) {}

std::unique_ptr<RpcClient> RpcClient::Connect(const std::string& host, const std::string& port,
                                              uint32_t program, uint32_t version,
                                              uint32_t timeoutMs, std::string& why) {
    std::unique_ptr<Transport> transport = OpenTcp(host, port, timeoutMs, why);
    if (!transport)
        return nullptr;
    // A call is one record written at once; nothing is gained by holding it back.
    transport->SendPromptly();
    return std::make_unique<RpcClient>(std::move(transport), program, version);
}

RpcClient::Outcome RpcClient::Call(uint32_t procedure, std::string_view arguments,
                                   size_t replyLimit, uint32_t timeoutMs, std::string& results,
                                   std::string& why) {
    const Clock::time_point deadline = DeadlineIn(timeoutMs);
    const uint32_t xid = nextXid_++;
    records_.SetLimit(replyLimit);
    Outcome outcome = Outcome::kFailed;
    if (!interrupted_ && Send(procedure, arguments, deadline, xid, why))
        outcome = Receive(xid, deadline, results, why);
    if (outcome == Outcome::kFailed && interrupted_)
        why = "interrupted on request";
    return outcome;
}

void RpcClient::Interrupt() {
    interrupted_ = true;
    transport_->Interrupt();
}

bool RpcClient::Send(uint32_t procedure, std::string_view arguments, Clock::time_point deadline,
                     uint32_t xid, std::string& why) {
    const std::string record =
        rpc::MarkRecord(rpc::CallRecord({xid, program_, version_, procedure}, arguments));
    if (transport_->WriteAll(record, MsLeft(deadline)))
        return true;
    why = MsLeft(deadline) == 0 ? "RPC: Timed out" : "RPC: Unable to send";
    return false;
}

RpcClient::Outcome RpcClient::Receive(uint32_t xid, Clock::time_point deadline,
                                      std::string& results, std::string& why) {
    for (;;) {
        std::string record;
        switch (records_.Next(record)) {
            case rpc::RecordReader::State::kRecord: {
                rpc::XdrReader reply(record);
                rpc::ReplyHeader header;
                if (!rpc::ReadReplyHeader(reply, header)) {
                    why = "RPC: Can't decode result";
                    return Outcome::kFailed;
                }
                if (header.xid != xid)
                    break;  // a late reply to an earlier call
                if (header.accepted && header.acceptStatus == rpc::kAcceptSuccess) {
                    results.assign(reply.Rest());
                    return Outcome::kDone;
                }
                why = RefusalText(header);
                return Outcome::kFailed;
            }
            case rpc::RecordReader::State::kTooLarge:
                return TooLarge(xid, deadline, results, why);
            case rpc::RecordReader::State::kNeedMore:
                if (!ReadMore(deadline, why))
                    return Outcome::kFailed;
                break;
        }
    }
}

// A reply past the limit is not read; only its start is, as much as the
// caller needs to say what the server sent (a length it announced), within
// the deadline and never more than kShownOfTooLarge bytes.
RpcClient::Outcome RpcClient::TooLarge(uint32_t xid, Clock::time_point deadline,
                                       std::string& results, std::string& why) {
    const size_t wanted =
        static_cast<size_t>(std::min<uint64_t>(records_.TooLargeSize(), kShownOfTooLarge));
    std::string start = records_.TooLargeStart(wanted);
    std::string ignored;
    while (start.size() < wanted && ReadMore(deadline, ignored))
        start = records_.TooLargeStart(wanted);
    why = "RPC: Can't decode result: a reply of " + std::to_string(records_.TooLargeSize()) +
          " bytes or more";
    rpc::XdrReader reply(start);
    rpc::ReplyHeader header;
    if (!rpc::ReadReplyHeader(reply, header) || header.xid != xid || !header.accepted ||
        header.acceptStatus != rpc::kAcceptSuccess)
        return Outcome::kFailed;
    results.assign(reply.Rest());
    return Outcome::kTooLarge;
}

bool RpcClient::ReadMore(Clock::time_point deadline, std::string& why) {
    const uint32_t left = MsLeft(deadline);
    if (left == 0) {
        why = "RPC: Timed out";
        return false;
    }
    const long got = transport_->ReadSome(buffer_, left);
    if (got < 0) {
        why = "RPC: Unable to receive";
        return false;
    }
    records_.Feed(std::string_view(buffer_.data(), static_cast<size_t>(got)));
    return true;
}

std::string PortFromPortmapper(const std::string& host, uint32_t program, uint32_t version,
                               uint32_t timeoutMs, std::string& why) {
    const auto deadline = DeadlineIn(timeoutMs);
    std::unique_ptr<RpcClient> portmapper = RpcClient::Connect(
        host, kPortmapperPort, rpc::kPortmapperProgram, rpc::kPortmapperVersion, timeoutMs, why);
    if (!portmapper) {
        why = "no portmapper: " + why;
        return "";
    }
    rpc::XdrWriter query;
    for (uint32_t word : {program, version, rpc::kProtocolTcp, 0u})
        query.U32(word);
    std::string results;
    RpcClient::Outcome outcome = portmapper->Call(rpc::kPortmapperGetPort, query.Bytes(),
                                                  kSmallReply, MsLeft(deadline), results, why);
    uint32_t port = 0;
    if (outcome == RpcClient::Outcome::kDone && !rpc::XdrReader(results).U32(port)) {
        outcome = RpcClient::Outcome::kFailed;
        why = "RPC: Can't decode result";
    }
    if (outcome != RpcClient::Outcome::kDone) {
        why = "portmapper on " + host + ": " + why;
        return "";
    }
    if (port == 0 || port > 65535) {
        char program_text[16];
        std::snprintf(program_text, sizeof program_text, "0x%06X", program);
        why = "the portmapper on " + host + " has no TCP port for RPC program " + program_text +
              " version " + std::to_string(version);
        return "";
    }
    return std::to_string(port);
}

}  // namespace kio
